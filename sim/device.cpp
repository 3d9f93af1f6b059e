// The device thread: moves bytes between the pty and the protocol, applying the line-speed rule
// and the fault knobs.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "sim/baud.h"
#include "sim/line_assembler.h"
#include "sim/nmea.h"
#include "sim/pacer.h"
#include "sim/protocol.h"
#include "sim/pty_line.h"
#include "sim/reply_faults.h"
#include "sim/tx_queue.h"
#include "sim/unique_fd.h"
#include "sim/z31sim.h"

namespace z31sim {
namespace {

void CheckBaud(const char* what, int baud) {
    if (!SpeedForBaud(baud)) {
        throw std::invalid_argument(std::string("z31sim: unsupported ") + what + " " +
                                    std::to_string(baud));
    }
}

void CheckValue(const char* what, const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos) {
        throw std::invalid_argument(std::string("z31sim: ") + what +
                                    " must not contain CR or LF (use a raw reply for that)");
    }
}

std::string LinkPath(const std::string& port_dir, const DeviceConfig& cfg) {
    if (port_dir.empty()) throw std::invalid_argument("z31sim: the port folder must be named");
    return port_dir + "/com" + std::to_string(cfg.port_number);
}

const DeviceConfig& Validated(const DeviceConfig& cfg) {
    if (cfg.port_number < 1) throw std::invalid_argument("z31sim: port number must be 1 or more");
    if (cfg.nmea_period_ms < 1) throw std::invalid_argument("z31sim: NMEA period must be >= 1 ms");
    CheckBaud("NMEA baud rate", cfg.nmea_baud);
    CheckBaud("command baud rate", cfg.command_baud);
    CheckValue("firmware version", cfg.fw_version);
    CheckValue("database version", cfg.db_version);
    CheckValue("voice data version", cfg.voc_version);
    CheckValue("device ID", cfg.device_id);
    CheckValue("serial number", cfg.serial_number);
    if (cfg.user_points.size() > kMaxUserPoints) {
        throw std::invalid_argument("z31sim: at most " + std::to_string(kMaxUserPoints) +
                                    " user points");
    }
    return cfg;
}

// How often, and for how long after the host closed the port, its line speed is sampled again.
constexpr auto kResampleEvery = std::chrono::milliseconds(5);
constexpr auto kResampleFor = std::chrono::milliseconds(200);
// Replies longer than kPacedReplyAbove go out in slices of kPaceSliceMs on the wire. Shorter
// ones (every reply but a user point read) go out at once, as they always have.
constexpr std::size_t kPacedReplyAbove = 4096;
constexpr std::size_t kPaceSliceMs = 10;

// Milliseconds from `now` until `when`, rounded up so that poll never wakes early and spins.
int MsUntil(Clock::time_point now, Clock::time_point when) {
    if (when <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

struct Device::Impl {
    Impl(const std::string& port_dir, const DeviceConfig& config)
        : cfg(Validated(config)),
          line(LinkPath(port_dir, cfg)),
          wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
          protocol(cfg),
          track(std::time(nullptr), 48.1372, 11.5756) {
        if (!wake.valid()) {
            throw std::runtime_error(std::string("z31sim: cannot create an eventfd: ") +
                                     std::strerror(errno));
        }
        thread = std::thread([this] { Run(); });
    }

    ~Impl() {
        stop = true;
        Wake();
        thread.join();
    }

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wake.get(), &one, sizeof one);
    }

    void Run();
    void OnWake();
    void OnReadable(Clock::time_point now);
    void OnHostEvents(const PtyLine::HostEvents& events, Clock::time_point now);
    // The three below run with mu held.
    // `other_baud`, when set, is a second speed the bytes may have been sent at: each byte is
    // heard if either matches the device's.
    void Dispatch(std::string_view bytes, int host_baud, Clock::time_point now, int other_baud = 0);
    void OnLine(const std::string& text, Clock::time_point now);
    void Reply(std::string reply, int baud, bool raw, Clock::time_point now);
    // When a running image stream ends if the host stays silent, if one runs.
    std::optional<Clock::time_point> ImageEnd() const;
    void EndImageAfterSilence(Clock::time_point now);
    void StreamNmea(Clock::time_point now);
    void Send(Clock::time_point now);
    bool Streaming() const;
    void CloseLine();

    const DeviceConfig cfg;
    PtyLine line;  // the device thread's, except after `done` is set
    UniqueFd wake;

    mutable std::mutex mu;
    std::condition_variable cv;
    Protocol protocol;                               // guarded by mu
    std::vector<std::string> commands;               // guarded by mu
    std::map<std::string, std::string> raw_replies;  // guarded by mu
    int split_pieces = 1;                            // guarded by mu
    int split_gap_ms = 0;                            // guarded by mu
    bool hangup_requested = false;                   // guarded by mu
    bool hung_up = false;                            // guarded by mu
    bool done = false;                               // guarded by mu: the thread has ended

    std::atomic<bool> stop{false};
    std::atomic<bool> silent{false};
    std::atomic<bool> nul_in_replies{false};
    std::atomic<bool> paced{true};
    std::atomic<int> reply_delay_ms{0};
    std::atomic<std::size_t> received{0};
    std::atomic<std::size_t> dropped{0};
    std::atomic<std::size_t> lost_sent{0};

    // The device thread's own state.
    LineAssembler assembler;
    LineAssembler boot_assembler;  // lines heard at the bootloader's start speed
    Pacer pacer;
    // The line speed the host last had set, sampled at every wake: a pseudo-terminal tells
    // nothing when the host changes it, and bytes still unread when the host closes the port
    // may have been sent at this speed.
    int judged_baud = 0;
    // The host wrote bytes this side has not read to the end yet.
    bool host_unread = false;
    // After an open or a close, the speed is sampled again every few milliseconds for a while,
    // so that the host's new setting is known before it sends at it (a host pauses after it
    // sets a new speed, as the library does for 100 ms).
    Clock::time_point resample_until{};
    Clock::time_point image_activity{};  // the last image byte, or the start of the stream
    TxQueue tx;
    NmeaTrack track;
    Clock::time_point next_nmea{};

    std::thread thread;
};

void Device::Impl::Run() {
    next_nmea = Clock::now();
    while (!stop) {
        Clock::time_point now = Clock::now();
        int timeout = -1;  // idle: nothing to stream or send, wait for the host or a knob
        const auto wake_at = [&](Clock::time_point when) {
            const int ms = MsUntil(now, when);
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        };
        if (Streaming()) wake_at(next_nmea);
        if (const auto due = tx.NextDue()) wake_at(*due);
        if (const auto end = ImageEnd()) wake_at(*end);
        // While bytes come in at the line speed they are read on the pacer's clock: waiting for
        // POLLIN would spin on bytes that are waiting but have not yet "arrived".
        const bool paced_run = paced && pacer.busy() && line.is_open();
        if (paced_run) wake_at(pacer.NextReadAt());
        if (now < resample_until) wake_at(now + kResampleEvery);
        pollfd fds[3] = {{wake.get(), POLLIN, 0},
                         {line.master_fd(), static_cast<short>(paced_run ? 0 : POLLIN), 0},
                         {line.watch_fd(), POLLIN, 0}};
        if (poll(fds, 3, timeout) < 0 && errno != EINTR) {
            std::fprintf(stderr, "z31sim: poll failed: %s\n", std::strerror(errno));
            break;
        }
        now = Clock::now();
        if (fds[0].revents != 0) OnWake();
        if (fds[2].revents != 0) OnHostEvents(line.OnWatchEvents(), now);
        if (line.is_open()) judged_baud = line.HostBaud();
        if (fds[1].revents != 0 || (paced_run && now >= pacer.NextReadAt())) OnReadable(now);
        EndImageAfterSilence(now);
        StreamNmea(now);
        Send(now);
    }
    std::lock_guard lock(mu);
    done = true;
    cv.notify_all();
}

void Device::Impl::OnWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(wake.get(), &count, sizeof count);
    bool hang_up = false;
    {
        std::lock_guard lock(mu);
        hang_up = hangup_requested && !hung_up;
    }
    if (hang_up) CloseLine();
}

void Device::Impl::CloseLine() {
    line.Close();
    pacer.Idle();
    tx = TxQueue();
    std::lock_guard lock(mu);
    hung_up = true;
    cv.notify_all();
}

void Device::Impl::OnHostEvents(const PtyLine::HostEvents& events, Clock::time_point now) {
    // The host sets its speed just after it opens the port.
    if (events.opened || events.closed) resample_until = now + kResampleFor;
    if (!events.closed) {
        host_unread = host_unread || events.wrote_after;
        return;
    }
    const bool old_bytes = host_unread || events.wrote_before;
    host_unread = events.wrote_after;
    if (!old_bytes || !line.is_open()) return;
    // Bytes the host sent before it closed the port are still unread: a real port's close waits
    // until its output has left, so they have all arrived, at the speed the host had set then
    // (sampled last). Take them at once. If the host has also written since it reopened, the
    // two cannot be told apart: each byte is heard at whichever of the two speeds the device
    // listens at.
    int pending = 0;
    if (ioctl(line.master_fd(), FIONREAD, &pending) != 0 || pending <= 0) return;
    const int before = judged_baud;
    const int after = events.wrote_after ? line.HostBaud() : 0;
    char buf[4096];
    std::size_t left = static_cast<std::size_t>(pending);
    while (left > 0) {
        const ssize_t n = line.Read(buf, std::min(left, sizeof buf));
        if (n <= 0) break;
        left -= static_cast<std::size_t>(n);
        received += static_cast<std::size_t>(n);
        std::lock_guard lock(mu);
        Dispatch(std::string_view(buf, static_cast<std::size_t>(n)), before, now, after);
    }
    pacer.Idle();
}

void Device::Impl::OnReadable(Clock::time_point now) {
    if (!line.is_open()) return;
    const int host_baud = judged_baud;  // sampled at this wake
    char buf[4096];
    std::size_t want = sizeof buf;
    const bool pace = paced && host_baud > 0;
    if (pace) {
        want = std::min(want, pacer.Allowed(now, host_baud));
        if (want == 0) return;
    } else {
        pacer.Idle();
    }
    const ssize_t n = line.Read(buf, want);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (errno == EAGAIN) {  // nothing more on the line
            pacer.Idle();
            host_unread = false;
        }
        return;
    }
    if (n <= 0) {
        // Cannot happen while our own slave descriptor is open; hang up rather than spin.
        std::fprintf(stderr, "z31sim: line %s failed, hanging up\n", line.slave_path().c_str());
        CloseLine();
        return;
    }
    if (static_cast<std::size_t>(n) < want) host_unread = false;  // read to the end
    if (pace) {
        pacer.Take(static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < want) pacer.Idle();
    }
    received += static_cast<std::size_t>(n);
    std::lock_guard lock(mu);
    Dispatch(std::string_view(buf, static_cast<std::size_t>(n)), host_baud, now);
}

void Device::Impl::Dispatch(std::string_view bytes, int sent_baud, Clock::time_point now,
                            int other_baud) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // A command may have just switched the mode: the rest was sent at the old speed.
        const int device_baud = protocol.LineBaud();
        const int host_baud = other_baud == device_baud ? other_baud : sent_baud;
        if (host_baud != device_baud) {
            ++dropped;
            // Only the bootloader's start command is heard at its own speed.
            if (host_baud != kBootStartBaud || protocol.Expects() != Protocol::Input::Line) {
                continue;
            }
            const auto text = boot_assembler.Push(bytes[i]);
            if (text && protocol.HearAtBootRate(*text)) {
                dropped -= text->size() + 1;
                commands.push_back(*text);
                assembler.Reset();
                boot_assembler.Reset();
                image_activity = now;
            }
            continue;
        }
        switch (protocol.Expects()) {
            case Protocol::Input::Image:
                // The stream has no framing: everything else in this read belongs to it.
                image_activity = now;
                Reply(protocol.ReceiveImage(bytes.substr(i)), device_baud, false, now);
                return;
            case Protocol::Input::Confirmation: {
                const char answer = bytes[i];
                if (answer == '\r' || answer == '\n') break;  // the end of the command's line
                commands.emplace_back(1, answer);
                if (silent) break;
                Reply(protocol.Confirm(answer), protocol.LineBaud(), false, now);
                image_activity = now;  // a stream that starts now ends after silence from now
                break;
            }
            case Protocol::Input::Line:
                if (auto text = assembler.Push(bytes[i])) OnLine(*text, now);
                break;
        }
    }
}

void Device::Impl::OnLine(const std::string& text, Clock::time_point now) {
    commands.push_back(text);
    if (silent) return;
    std::string reply = protocol.Execute(text);
    bool raw = false;
    if (const auto it = raw_replies.find(text); it != raw_replies.end()) {
        reply = it->second;
        raw = true;
    }
    Reply(std::move(reply), protocol.LineBaud(), raw, now);
    if (protocol.Expects() == Protocol::Input::Image) image_activity = now;
}

void Device::Impl::Reply(std::string reply, int baud, bool raw, Clock::time_point now) {
    if (reply.empty()) return;
    if (!raw && nul_in_replies) reply = InsertNuls(reply);
    const auto start = now + std::chrono::milliseconds(reply_delay_ms.load());
    // A long reply of the device's own (a user point read of many kilobytes) goes out at the
    // line speed, a slice every kPaceSliceMs, so that a host collecting for a while sees only
    // what a real line would have carried by then.
    const std::size_t slice = static_cast<std::size_t>(baud) / 10 * kPaceSliceMs / 1000;
    if (!raw && split_pieces == 1 && slice > 0 && reply.size() > kPacedReplyAbove) {
        std::vector<std::string> pieces;
        for (std::size_t at = 0; at < reply.size(); at += slice) {
            pieces.push_back(reply.substr(at, slice));
        }
        tx.Schedule(start, pieces, std::chrono::milliseconds(kPaceSliceMs), baud);
        return;
    }
    tx.Schedule(start, SplitReply(reply, split_pieces), std::chrono::milliseconds(split_gap_ms),
                baud);
}

std::optional<Clock::time_point> Device::Impl::ImageEnd() const {
    std::lock_guard lock(mu);
    if (protocol.Expects() != Protocol::Input::Image) return std::nullopt;
    return image_activity + std::chrono::milliseconds(kImageEndSilenceMs);
}

void Device::Impl::EndImageAfterSilence(Clock::time_point now) {
    std::lock_guard lock(mu);
    if (protocol.Expects() != Protocol::Input::Image ||
        now < image_activity + std::chrono::milliseconds(kImageEndSilenceMs)) {
        return;
    }
    Protocol::Output out = protocol.EndImage();
    assembler.Reset();
    Reply(std::move(out.bytes), out.baud, false, now);
}

bool Device::Impl::Streaming() const {
    if (silent || !line.is_open()) return false;
    std::lock_guard lock(mu);
    return protocol.mode() == Mode::Normal;
}

void Device::Impl::StreamNmea(Clock::time_point now) {
    if (!Streaming()) {
        next_nmea = now;  // when streaming resumes, the first burst goes out at once
        return;
    }
    if (now < next_nmea) return;
    tx.Schedule(now, {track.NextBurst()}, Clock::duration::zero(), cfg.nmea_baud);
    next_nmea += std::chrono::milliseconds(cfg.nmea_period_ms);
    if (next_nmea <= now) next_nmea = now + std::chrono::milliseconds(cfg.nmea_period_ms);
}

void Device::Impl::Send(Clock::time_point now) {
    while (auto chunk = tx.PopDue(now)) {
        // A device that went silent does not finish what it was about to say.
        if (silent || !line.is_open()) continue;
        const std::size_t size = chunk->bytes.size();
        const std::size_t sent = line.HostBaud() == chunk->baud ? line.Write(chunk->bytes) : 0;
        lost_sent += size - sent;
    }
}

Device::Device(std::string port_dir, DeviceConfig cfg)
    : impl_(std::make_unique<Impl>(port_dir, cfg)) {}

Device::~Device() = default;

std::string Device::PortPath() const { return impl_->line.link_path(); }

std::string Device::SlavePath() const { return impl_->line.slave_path(); }

Mode Device::CurrentMode() const {
    std::lock_guard lock(impl_->mu);
    return impl_->protocol.mode();
}

void Device::SetSilent(bool silent) {
    impl_->silent = silent;
    impl_->Wake();
}

void Device::SetNulInReplies(bool on) { impl_->nul_in_replies = on; }

void Device::SetReplyDelayMs(int ms) {
    if (ms < 0) throw std::invalid_argument("z31sim: reply delay must not be negative");
    impl_->reply_delay_ms = ms;
}

void Device::SetSplitReply(int pieces, int gap_ms) {
    if (pieces < 1 || gap_ms < 0) {
        throw std::invalid_argument("z31sim: split needs 1 or more pieces and a gap >= 0 ms");
    }
    std::lock_guard lock(impl_->mu);
    impl_->split_pieces = pieces;
    impl_->split_gap_ms = gap_ms;
}

void Device::SetRawReply(const std::string& command, std::string raw) {
    std::lock_guard lock(impl_->mu);
    impl_->raw_replies[command] = std::move(raw);
}

void Device::ClearRawReplies() {
    std::lock_guard lock(impl_->mu);
    impl_->raw_replies.clear();
}

void Device::HangUp() {
    std::unique_lock lock(impl_->mu);
    if (impl_->hung_up) return;
    impl_->hangup_requested = true;
    impl_->Wake();
    impl_->cv.wait(lock, [this] { return impl_->hung_up || impl_->done; });
    if (impl_->hung_up) return;
    // The thread has ended on its own: nobody else touches the line now.
    impl_->line.Close();
    impl_->hung_up = true;
}

bool Device::IsHungUp() const {
    std::lock_guard lock(impl_->mu);
    return impl_->hung_up;
}

std::vector<std::string> Device::ReceivedCommands() const {
    std::lock_guard lock(impl_->mu);
    return impl_->commands;
}

std::size_t Device::ReceivedBytes() const { return impl_->received; }

std::size_t Device::DroppedBytes() const { return impl_->dropped; }

std::size_t Device::LostSentBytes() const { return impl_->lost_sent; }

std::string Device::ReceivedImage(Area area) const {
    std::lock_guard lock(impl_->mu);
    return impl_->protocol.Image(area);
}

int Device::CompletedImages(Area area) const {
    std::lock_guard lock(impl_->mu);
    return impl_->protocol.CompletedImages(area);
}

std::string Device::StoredSerialNumber() const {
    std::lock_guard lock(impl_->mu);
    return impl_->protocol.SerialNumber();
}

Settings Device::StoredSettings() const {
    std::lock_guard lock(impl_->mu);
    return impl_->protocol.StoredSettings();
}

void Device::SetStoredSettings(const Settings& settings) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.SetStoredSettings(settings);
}

std::vector<UserPoint> Device::StoredUserPoints() const {
    std::lock_guard lock(impl_->mu);
    return impl_->protocol.StoredUserPoints();
}

void Device::SetStoredUserPoints(std::vector<UserPoint> points) {
    if (points.size() > kMaxUserPoints) {
        throw std::invalid_argument("z31sim: at most " + std::to_string(kMaxUserPoints) +
                                    " user points");
    }
    std::lock_guard lock(impl_->mu);
    impl_->protocol.SetStoredUserPoints(std::move(points));
}

void Device::SetPacedReception(bool on) {
    impl_->paced = on;
    impl_->Wake();
}

void Device::SetEraseAnswers(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().erase_answers = on;
}

void Device::SetWriteVerdict(WriteVerdict verdict) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().verdict = verdict;
}

void Device::SetVerdictDuringStream(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().verdict_during_stream = on;
}

void Device::SetQuitIgnored(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().quit_ignored = on;
}

void Device::SetQcVerdict(QcVerdict verdict) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().qc_verdict = verdict;
}

void Device::SetQcShortReply(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().qc_short = on;
}

void Device::SetQcViewEndMarker(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().qc_end_marker = on;
}

void Device::SetReadCompleted(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().read_completed = on;
}

void Device::SetSettingsLineLength(int length) {
    if (length < Protocol::kSettingsLineLength - 1 || length > Protocol::kSettingsLineLength + 1) {
        throw std::invalid_argument("z31sim: the settings line is 79, 80 or 81 characters");
    }
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().settings_line_length = length;
}

void Device::SetInvalidUserPoints(int count) {
    if (count < 0 || static_cast<std::size_t>(count) > kMaxUserPoints) {
        throw std::invalid_argument("z31sim: invalid user points must be 0 to " +
                                    std::to_string(kMaxUserPoints));
    }
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().invalid_user_points = count;
}

void Device::SetUserPointReplyCut(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().user_point_reply_cut = on;
}

void Device::SetWriteAnswers(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->protocol.knobs().write_answers = on;
}

}  // namespace z31sim
