// The device thread. It sleeps in poll() until a descriptor, the wake-up eventfd or a deadline
// (a silent new connection, the end of a stall) needs it, then does all the work that is ready
// with the shared lock held; every socket operation in here is non-blocking.
#include "sim/usb/server.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "sim/pipebridge/bridge_protocol.h"

namespace z31sim::usb {
namespace {

using namespace std::chrono_literals;

constexpr auto kHelloTimeout = 2s;       // a new connection must say what it wants by then
constexpr std::size_t kMaxPending = 64;  // silent connections beyond this close the oldest
// Transfers read from one PIPE00 connection before the others get their turn. More than the
// kernel can hold queued for one connection, so that each is emptied while the writer waits.
constexpr std::size_t kReadsPerStep = 1024;
constexpr std::size_t kMaxWaiting = 1024;  // replies kept for a PIPE01 that is not open
constexpr auto kAcceptBackoff = 100ms;     // pause after accept() fails for lack of descriptors
constexpr auto kSyncBound = 5s;
constexpr std::size_t kInitialBuffer = 64 * 1024;

enum class Wants { kProbe, kOut, kIn, kUnknown };

Wants ParseHello(std::string_view hello) {
    if (hello == z31pipe::kHelloProbe) return Wants::kProbe;
    if (hello == z31pipe::kHelloPipeOut) return Wants::kOut;
    if (hello == z31pipe::kHelloPipeIn) return Wants::kIn;
    return Wants::kUnknown;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Server::Server(std::string path, SharedState& shared)
    : path_(std::move(path)), shared_(shared), buffer_(kInitialBuffer) {
    listener_ = ListenAt(path_, &listener_id_);
    wake_ = Fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_.valid()) {
        const int error = errno;
        RemoveIfSame(path_, listener_id_);
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(error));
    }
    thread_ = std::thread(&Server::Run, this);
}

Server::~Server() {
    {
        std::lock_guard lock(shared_.mu);
        shared_.stop = true;
    }
    Wake();
    thread_.join();
    pending_.clear();
    CloseConnections();
    if (listener_.valid()) {
        listener_.Reset();
        RemoveIfSame(path_, listener_id_);
    }
}

bool Server::Sync(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t target = ++shared_.requested;
    Wake();
    return shared_.changed.wait_for(lock, kSyncBound, [&] { return shared_.applied >= target; });
}

void Server::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_.get(), &one, sizeof one);
}

void Server::Run() {
    std::vector<pollfd> fds;
    for (;;) {
        int timeout_ms = -1;
        {
            std::lock_guard lock(shared_.mu);
            if (shared_.stop) return;
            const auto now = Clock::now();
            timeout_ms = PollTimeoutMs(now);
            fds.clear();
            fds.push_back({wake_.get(), POLLIN, 0});
            if (listener_.valid() && now >= accept_paused_until_) {
                fds.push_back({listener_.get(), POLLIN, 0});
            }
            for (const Pending& p : pending_) fds.push_back({p.fd.get(), POLLIN, 0});
            // While stalled PIPE00 is left out entirely: a hang-up would wake us for nothing.
            if (!shared_.knobs.Stalled(now)) {
                for (const PipeOut& conn : pipe_out_) {
                    fds.push_back({conn.fd.get(), POLLIN | POLLRDHUP, 0});
                }
            }
            if (pipe_in_.valid()) {
                const short out = in_queue_.empty() ? 0 : POLLOUT;
                fds.push_back({pipe_in_.get(), static_cast<short>(POLLRDHUP | out), 0});
            }
        }
        poll(fds.data(), fds.size(), timeout_ms);
        std::uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t n = read(wake_.get(), &wakes, sizeof wakes);

        std::lock_guard lock(shared_.mu);
        if (shared_.stop) return;
        Step(Clock::now());
        shared_.applied = shared_.requested;
        shared_.changed.notify_all();
    }
}

int Server::PollTimeoutMs(Clock::time_point now) const {
    auto next = Clock::time_point::max();
    for (const Pending& p : pending_) next = std::min(next, p.deadline);
    if (shared_.knobs.Stalled(now)) next = std::min(next, shared_.knobs.stall_until);
    if (listener_.valid() && now < accept_paused_until_) {
        next = std::min(next, accept_paused_until_);
    }
    if (next == Clock::time_point::max()) return -1;
    if (next <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void Server::Step(Clock::time_point now) {
    ApplyKnobs();
    AcceptAll(now);
    ServePending(now);
    ServePipeIn();
    if (!shared_.knobs.Stalled(now)) ServePipeOut();
}

void Server::ApplyKnobs() {
    Knobs& k = shared_.knobs;
    if (!k.socket_visible) {
        if (listener_.valid()) {
            listener_.Reset();
            RemoveIfSame(path_, listener_id_);
        }
        pending_.clear();
        CloseConnections();
    } else if (!listener_.valid()) {
        try {
            listener_ = ListenAt(path_, &listener_id_);
            shared_.listen_error.clear();
        } catch (const std::exception& e) {
            k.socket_visible = false;
            shared_.listen_error = e.what();
        }
    }
    if (!k.attached) CloseConnections();
    if (k.writes_unplugged) pipe_out_.clear();
}

void Server::CloseConnections() {
    pipe_out_.clear();
    pipe_in_.Reset();
    in_queue_.clear();
    waiting_.clear();
}

void Server::AcceptAll(Clock::time_point now) {
    while (listener_.valid() && now >= accept_paused_until_) {
        const int fd = accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors: the listener would stay readable, so look away for a moment
            // rather than spin.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                accept_paused_until_ = now + kAcceptBackoff;
            }
            return;
        }
        if (pending_.size() >= kMaxPending) pending_.erase(pending_.begin());
        pending_.push_back({Fd(fd), now + kHelloTimeout});
    }
}

void Server::ServePending(Clock::time_point now) {
    for (std::size_t i = 0; i < pending_.size();) {
        char hello[z31pipe::kMaxControlMessage];
        const ssize_t n = recv(pending_[i].fd.get(), hello, sizeof hello, MSG_DONTWAIT);
        const bool nothing_yet =
            n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        if (nothing_yet && now < pending_[i].deadline) {
            ++i;
            continue;
        }
        Fd fd = std::move(pending_[i].fd);
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
        if (n > 0) Answer(std::move(fd), {hello, static_cast<std::size_t>(n)});
    }
}

void Server::Answer(Fd fd, std::span<const char> hello) {
    const Wants wants = ParseHello({hello.data(), hello.size()});
    const Knobs& k = shared_.knobs;
    const char* refusal = nullptr;
    if (wants == Wants::kUnknown) {
        refusal = "NO unknown";
    } else if (!k.attached) {
        refusal = "NO detached";
    } else if (wants == Wants::kOut && k.writes_unplugged) {
        refusal = "NO unplugged";
    } else if ((wants == Wants::kOut && k.refuse_out) || (wants == Wants::kIn && k.refuse_in)) {
        refusal = "NO refused";
    }
    if (refusal != nullptr) {
        ++shared_.opens.refused;
        SendTransfer(fd.get(), AsBytes(refusal));
        return;
    }
    if (SendTransfer(fd.get(), AsBytes(z31pipe::kAnswerOk)) != SendResult::kSent) return;
    switch (wants) {
        case Wants::kProbe: ++shared_.opens.probes; break;
        case Wants::kOut:
            ++shared_.opens.pipe_out;
            pipe_out_.push_back({std::move(fd)});
            break;
        case Wants::kIn:
            // A newer PIPE01 replaces the open one, and what was owed to that one is dropped.
            ++shared_.opens.pipe_in;
            pipe_in_ = std::move(fd);
            in_queue_ = std::move(waiting_);
            waiting_.clear();
            FlushPipeIn();
            break;
        case Wants::kUnknown: break;
    }
}

void Server::ServePipeIn() {
    if (!pipe_in_.valid()) return;
    if (PeerGone(pipe_in_.get())) {
        pipe_in_.Reset();
        in_queue_.clear();
        return;
    }
    FlushPipeIn();
}

void Server::FlushPipeIn() {
    while (pipe_in_.valid() && !in_queue_.empty()) {
        switch (SendTransfer(pipe_in_.get(), in_queue_.front())) {
            case SendResult::kSent: in_queue_.pop_front(); break;
            case SendResult::kFull: return;
            case SendResult::kGone:
                pipe_in_.Reset();
                in_queue_.clear();
                return;
        }
    }
}

void Server::ServePipeOut() {
    // Older connections first, each until it has nothing more: what was queued on an older one
    // before a newer one opened comes out first, as it went in.
    for (auto it = pipe_out_.begin(); it != pipe_out_.end();) {
        if (ReadPipeOut(*it, kReadsPerStep)) {
            ++it;
        } else {
            it = pipe_out_.erase(it);
        }
    }
}

bool Server::ReadPipeOut(PipeOut& conn, std::size_t limit) {
    const int fd = conn.fd.get();
    for (std::size_t i = 0; i < limit; ++i) {
        // Peek at the size first so that no transfer is ever cut, however large.
        const ssize_t size = recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (size > 0 && static_cast<std::size_t>(size) > buffer_.size()) {
            buffer_.resize(static_cast<std::size_t>(size));
        }
        const ssize_t n = recv(fd, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        // Zero bytes is either end of file or an empty transfer; only a shut-down peer tells.
        if (n == 0 && PeerGone(fd)) return false;
        Dispatch(HandleTransfer(shared_.data, conn.carries,
                                {buffer_.data(), static_cast<std::size_t>(n)}));
    }
    return true;
}

void Server::Dispatch(std::vector<Bytes> replies) {
    if (replies.empty()) return;
    const Knobs& k = shared_.knobs;
    if (k.read_fault == ReadFault::kNoReply) return;
    if (k.read_fault == ReadFault::kClosePipe) {
        pipe_in_.Reset();
        in_queue_.clear();
        return;
    }
    if (k.short_replies) {
        for (Bytes& r : replies) r.resize(std::min(r.size(), *k.short_replies));
    }
    // The program may have closed PIPE01 a moment ago: then the reply waits for the next one.
    if (pipe_in_.valid() && PeerGone(pipe_in_.get())) {
        pipe_in_.Reset();
        in_queue_.clear();
    }
    std::deque<Bytes>& queue = pipe_in_.valid() ? in_queue_ : waiting_;
    for (Bytes& r : replies) queue.push_back(std::move(r));
    while (waiting_.size() > kMaxWaiting) waiting_.pop_front();
    FlushPipeIn();
}

}  // namespace z31sim::usb
