// z31sim: runs simulated Z31 devices on pseudo-terminals until SIGINT or SIGTERM, one by default
// or one a port with --ports, plugged and unplugged by commands on standard input.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/ports/port_list.h"
#include "sim/stop_signals.h"
#include "sim/z31sim.h"

namespace {

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: z31sim [--port-dir DIR] [--port N | --ports LIST [--plugged on|off]]\n"
    "              [--nmea-baud B] [--command-baud B]\n"
    "              [--mode normal|download] [--nmea-period MS] [--fw V] [--db V] [--voc V]\n"
    "              [--id ID] [--serial S] [--settings W0,...,W15] [--points N]\n"
    "              [KNOB ...] [--on LIST KNOB ...]\n"
    "Creates DIR/comN (DIR defaults to $QVLIB_PORT_DIR, N to 1) linked to a pseudo-terminal\n"
    "on which a simulated Z31 answers, and runs until interrupted. --ports runs one device a\n"
    "port of the LIST (\"3-18\", \"3,5-8\"), each with the serial number S with its last three\n"
    "characters replaced by the port number (Z31A0012003 on port 3); --plugged off starts\n"
    "with none of them plugged. An empty --serial means no serial number is stored.\n"
    "--settings gives the 16 stored settings words in hex (default\n"
    "0050,0064,FFFF,FFFF,FFFF,FFFF,FFFF,FFFF,0014,FED4,0000,FFFF,FFFF,FFFF,0001,0000);\n"
    "--points stores N made-up valid user points (0..4000, default 0).\n"
    "Knobs apply to every device; after --on LIST, up to the next --on, only to those ports.\n"
    "Commands on standard input, one a line: \"unplug N\" pulls the device on port N (its\n"
    "pty closes, its link goes), \"plug N\" brings a new device up on port N, \"list\" prints\n"
    "the ports with a device, \"quit\" stops the simulator.\n"
    "Knobs (defaults first):\n"
    "  --pacing on|off               take the host's bytes at its line speed, 10 bits a byte\n"
    "  --erase-answer on|off         erases answer \"Completed!\"; off: no answer, no erase\n"
    "  --verdict succeed|fail|checksum|format|id|none\n"
    "                                the answer to an image: WriteSucceed!, WriteFail*,\n"
    "                                CheckSumErr*, ErrorInFormat*, ID Mismatch*, or none;\n"
    "                                the bootloader shows its prompt only for succeed\n"
    "  --verdict-during-stream off|on  the verdict after the first 4096 bytes, not at the end\n"
    "  --quit-ignored off|on         \"qq\" answers the prompt and stays in download mode\n"
    "  --qc-verdict pass|fail|notdone|none  the verdict in the \"$qcresult\" reply\n"
    "  --qc-short off|on             the \"$qcresult\" reply is under 512 bytes\n"
    "  --qc-end on|off               the \"$viewqc\" report ends with \"END\"\n"
    "  --read-completed on|off       the settings and user point reads end with \"Completed!\"\n"
    "  --settings-line 80|79|81      characters after \"$0000*\" in the settings read\n"
    "  --invalid-points N            N records a host throws away (month 0) between the\n"
    "                                stored ones in a user point read (0)\n"
    "  --points-cut off|on           the user point read stops before \"$9999*\"\n"
    "  --write-answer on|off         settings and user point writes answer WriteSucceed! or\n"
    "                                WriteFail*; off: no answer, nothing stored\n"
    "  --silent off|on               record commands but neither act, answer nor stream\n"
    "  --nul-in-replies off|on       NUL bytes before each reply and its markers\n"
    "  --reply-delay MS              wait before each reply (0)\n"
    "  --split-reply N,GAP           send each reply in N pieces GAP ms apart (1,0)\n";

constexpr std::array<std::string_view, 33> kOptions = {"--port-dir",
                                                       "--port",
                                                       "--ports",
                                                       "--plugged",
                                                       "--on",
                                                       "--nmea-baud",
                                                       "--command-baud",
                                                       "--mode",
                                                       "--nmea-period",
                                                       "--fw",
                                                       "--db",
                                                       "--voc",
                                                       "--id",
                                                       "--serial",
                                                       "--settings",
                                                       "--points",
                                                       "--pacing",
                                                       "--erase-answer",
                                                       "--verdict",
                                                       "--verdict-during-stream",
                                                       "--quit-ignored",
                                                       "--qc-verdict",
                                                       "--qc-short",
                                                       "--qc-end",
                                                       "--read-completed",
                                                       "--settings-line",
                                                       "--invalid-points",
                                                       "--points-cut",
                                                       "--write-answer",
                                                       "--silent",
                                                       "--nul-in-replies",
                                                       "--reply-delay",
                                                       "--split-reply"};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int ParseInt(std::string_view option, std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        throw UsageError(std::string(option) + " needs a number, not '" + std::string(text) + "'");
    }
    return value;
}

bool ParseSwitch(std::string_view option, const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    throw UsageError(std::string(option) + " is on or off, not '" + text + "'");
}

// The value among `names` that `text` names; `values` in the same order.
template <typename T, std::size_t N>
T ParseChoice(std::string_view option, const std::string& text,
              const std::array<std::string_view, N>& names, const std::array<T, N>& values) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == text) return values[i];
    }
    std::string list;
    for (const auto name : names) list += (list.empty() ? "" : "|") + std::string(name);
    throw UsageError(std::string(option) + " is " + list + ", not '" + text + "'");
}

// Sixteen hex words separated by commas.
z31sim::Settings ParseSettings(const std::string& text) {
    z31sim::Settings words{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::size_t end = i + 1 < words.size() ? text.find(',', at) : text.size();
        const std::string_view word = std::string_view(text).substr(at, end - at);
        unsigned value = 0;
        const auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
        if (end == std::string::npos || word.empty() || word.size() > 4 || ec != std::errc() ||
            p != word.data() + word.size()) {
            throw UsageError(
                "--settings needs 16 hex words of up to 4 digits, separated by "
                "commas, not '" +
                text + "'");
        }
        words[i] = static_cast<std::uint16_t>(value);
        at = end + 1;
    }
    return words;
}

// A knob and the ports it is for (empty: every port).
struct ScopedKnob {
    std::vector<int> ports;
    std::function<void(z31sim::Device&)> set;
};

struct Options {
    std::string port_dir;
    z31sim::DeviceConfig cfg;
    std::vector<int> ports;  // --ports; empty: cfg.port_number alone
    bool plugged = true;     // --plugged off: no device until a "plug" command
    // The knobs, set on each device once it runs.
    std::vector<ScopedKnob> knobs;
};

std::vector<int> ParsePorts(std::string_view option, const std::string& text) {
    std::string error;
    auto ports = qvports::ParsePortList(text, &error);
    if (!ports) throw UsageError(std::string(option) + ": " + error);
    return *ports;
}

std::function<void(z31sim::Device&)> ParseKnob(std::string_view name, const std::string& v) {
    using z31sim::Device;
    using z31sim::QcVerdict;
    using z31sim::WriteVerdict;
    if (name == "--verdict") {
        const WriteVerdict verdict = ParseChoice<WriteVerdict, 6>(
            name, v, {"succeed", "fail", "checksum", "format", "id", "none"},
            {WriteVerdict::Succeed, WriteVerdict::Fail, WriteVerdict::CheckSumErr,
             WriteVerdict::ErrorInFormat, WriteVerdict::IdMismatch, WriteVerdict::None});
        return [verdict](Device& d) { d.SetWriteVerdict(verdict); };
    }
    if (name == "--qc-verdict") {
        const QcVerdict verdict = ParseChoice<QcVerdict, 4>(
            name, v, {"pass", "fail", "notdone", "none"},
            {QcVerdict::Pass, QcVerdict::Fail, QcVerdict::NotDone, QcVerdict::None});
        return [verdict](Device& d) { d.SetQcVerdict(verdict); };
    }
    if (name == "--reply-delay") {
        const int ms = ParseInt(name, v);
        if (ms < 0) throw UsageError("--reply-delay must not be negative");
        return [ms](Device& d) { d.SetReplyDelayMs(ms); };
    }
    if (name == "--split-reply") {
        const auto comma = v.find(',');
        if (comma == std::string::npos) throw UsageError("--split-reply needs N,GAP");
        const int pieces = ParseInt(name, std::string_view(v).substr(0, comma));
        const int gap = ParseInt(name, std::string_view(v).substr(comma + 1));
        if (pieces < 1 || gap < 0) throw UsageError("--split-reply needs N >= 1 and GAP >= 0");
        return [pieces, gap](Device& d) { d.SetSplitReply(pieces, gap); };
    }
    if (name == "--settings-line") {
        const int length = ParseInt(name, v);
        if (length < 79 || length > 81) throw UsageError("--settings-line is 79, 80 or 81");
        return [length](Device& d) { d.SetSettingsLineLength(length); };
    }
    if (name == "--invalid-points") {
        const int count = ParseInt(name, v);
        if (count < 0 || static_cast<std::size_t>(count) > z31sim::kMaxUserPoints) {
            throw UsageError("--invalid-points is 0 to " + std::to_string(z31sim::kMaxUserPoints));
        }
        return [count](Device& d) { d.SetInvalidUserPoints(count); };
    }
    const bool on = ParseSwitch(name, v);
    if (name == "--pacing") return [on](Device& d) { d.SetPacedReception(on); };
    if (name == "--erase-answer") return [on](Device& d) { d.SetEraseAnswers(on); };
    if (name == "--verdict-during-stream") {
        return [on](Device& d) { d.SetVerdictDuringStream(on); };
    }
    if (name == "--quit-ignored") return [on](Device& d) { d.SetQuitIgnored(on); };
    if (name == "--qc-short") return [on](Device& d) { d.SetQcShortReply(on); };
    if (name == "--qc-end") return [on](Device& d) { d.SetQcViewEndMarker(on); };
    if (name == "--read-completed") return [on](Device& d) { d.SetReadCompleted(on); };
    if (name == "--points-cut") return [on](Device& d) { d.SetUserPointReplyCut(on); };
    if (name == "--write-answer") return [on](Device& d) { d.SetWriteAnswers(on); };
    if (name == "--silent") return [on](Device& d) { d.SetSilent(on); };
    return [on](Device& d) { d.SetNulInReplies(on); };  // --nul-in-replies
}

Options Parse(int argc, char** argv) {
    Options opt;
    if (const char* env = std::getenv("QVLIB_PORT_DIR")) opt.port_dir = env;
    std::vector<int> scope;  // the ports of the last --on
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (!arg.starts_with("--")) {
            throw UsageError("unexpected argument '" + std::string(arg) + "'");
        }
        // Both "--name value" and "--name=value".
        const auto eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        if (std::find(kOptions.begin(), kOptions.end(), name) == kOptions.end()) {
            throw UsageError("unknown option " + std::string(name));
        }
        std::string v;
        if (eq != std::string_view::npos) {
            v = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            v = argv[++i];
        } else {
            throw UsageError(std::string(name) + " needs a value");
        }

        z31sim::DeviceConfig& c = opt.cfg;
        if (name == "--port-dir") {
            opt.port_dir = v;
        } else if (name == "--port") {
            c.port_number = ParseInt(name, v);
        } else if (name == "--ports") {
            opt.ports = ParsePorts(name, v);
        } else if (name == "--plugged") {
            opt.plugged = ParseSwitch(name, v);
        } else if (name == "--on") {
            scope = ParsePorts(name, v);
        } else if (name == "--nmea-baud") {
            c.nmea_baud = ParseInt(name, v);
        } else if (name == "--command-baud") {
            c.command_baud = ParseInt(name, v);
        } else if (name == "--nmea-period") {
            c.nmea_period_ms = ParseInt(name, v);
        } else if (name == "--mode") {
            if (v != "normal" && v != "download") {
                throw UsageError("--mode is normal or download, not '" + v + "'");
            }
            c.start_mode = v == "normal" ? z31sim::Mode::Normal : z31sim::Mode::Download;
        } else if (name == "--fw") {
            c.fw_version = v;
        } else if (name == "--db") {
            c.db_version = v;
        } else if (name == "--voc") {
            c.voc_version = v;
        } else if (name == "--id") {
            c.device_id = v;
        } else if (name == "--serial") {
            c.serial_number = v;
        } else if (name == "--settings") {
            c.settings = ParseSettings(v);
        } else if (name == "--points") {
            const int count = ParseInt(name, v);
            if (count < 0 || static_cast<std::size_t>(count) > z31sim::kMaxUserPoints) {
                throw UsageError("--points is 0 to " + std::to_string(z31sim::kMaxUserPoints));
            }
            c.user_points = z31sim::SampleUserPoints(count);
        } else {
            opt.knobs.push_back({scope, ParseKnob(name, v)});
        }
    }
    if (opt.port_dir.empty()) {
        throw UsageError("no port folder: give --port-dir or set QVLIB_PORT_DIR");
    }
    return opt;
}

// The devices of one run, one a port, plugged and unplugged while the run goes on.
class Fleet {
public:
    explicit Fleet(const Options& opt) : opt_(opt) {}
    ~Fleet() { Clear(); }

    // Brings a device up on the port: its path. Throws what Device throws, or std::runtime_error
    // when the port has a device already.
    std::string Plug(int port) {
        std::lock_guard lock(mutex_);
        if (devices_.count(port) != 0) {
            throw std::runtime_error("z31sim: port " + std::to_string(port) + " has a device");
        }
        z31sim::DeviceConfig cfg = opt_.cfg;
        cfg.port_number = port;
        if (!opt_.ports.empty() && cfg.serial_number.size() >= 3) {
            char digits[8];
            std::snprintf(digits, sizeof digits, "%03d", port % 1000);
            cfg.serial_number.replace(cfg.serial_number.size() - 3, 3, digits);
        }
        auto device = std::make_unique<z31sim::Device>(opt_.port_dir, cfg);
        for (const auto& knob : opt_.knobs) {
            if (knob.ports.empty() ||
                std::find(knob.ports.begin(), knob.ports.end(), port) != knob.ports.end()) {
                knob.set(*device);
            }
        }
        std::string path = device->PortPath();
        devices_[port] = std::move(device);
        return path;
    }
    // Pulls the device on the port, as a cable pulled out: its path, or empty without one.
    std::string Unplug(int port) {
        std::unique_ptr<z31sim::Device> device;
        {
            std::lock_guard lock(mutex_);
            auto found = devices_.find(port);
            if (found == devices_.end()) return {};
            device = std::move(found->second);
            devices_.erase(found);
        }
        std::string path = device->PortPath();
        device->HangUp();
        return path;
    }
    std::vector<int> Ports() const {
        std::lock_guard lock(mutex_);
        std::vector<int> ports;
        for (const auto& [port, device] : devices_) ports.push_back(port);
        return ports;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        devices_.clear();
    }

private:
    const Options& opt_;
    mutable std::mutex mutex_;
    std::map<int, std::unique_ptr<z31sim::Device>> devices_;
};

void Say(const std::string& line) {
    std::printf("z31sim: %s\n", line.c_str());
    std::fflush(stdout);
}

// Carries out one command line of standard input; false for "quit".
bool RunCommand(Fleet& fleet, const std::string& line) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "quit") return false;
    if (verb == "list") {
        Say("ports " + qvports::FormatPortList(fleet.Ports()));
        return true;
    }
    if (verb != "plug" && verb != "unplug") {
        std::fprintf(stderr, "z31sim: '%s' is not a command (plug N, unplug N, list, quit)\n",
                     line.c_str());
        return true;
    }
    std::string error;
    const auto ports = qvports::ParsePortList(rest, &error);
    if (!ports) {
        std::fprintf(stderr, "z31sim: %s: %s\n", verb.c_str(), error.c_str());
        return true;
    }
    for (const int port : *ports) {
        try {
            if (verb == "plug") {
                Say("device on " + fleet.Plug(port));
            } else {
                const std::string path = fleet.Unplug(port);
                if (path.empty()) {
                    std::fprintf(stderr, "z31sim: no device on port %d\n", port);
                } else {
                    Say("unplugged " + path);
                }
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
    return true;
}

// Reads commands from standard input on a thread of its own until "quit", the end of the input,
// or Stop. "quit" stops the program as SIGTERM would.
class CommandReader {
public:
    explicit CommandReader(Fleet& fleet) : fleet_(fleet) {
        if (::pipe(wake_) != 0) throw std::runtime_error("z31sim: no pipe for the command reader");
        thread_ = std::thread([this] { Run(); });
    }
    ~CommandReader() {
        const char byte = 0;
        (void)!::write(wake_[1], &byte, 1);
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    CommandReader(const CommandReader&) = delete;
    CommandReader& operator=(const CommandReader&) = delete;

private:
    void Run() {
        std::string pending;
        for (;;) {
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents != 0) return;
            char buffer[512];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) return;  // the input ended (or is not readable): run on without commands
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.empty()) continue;
                if (!RunCommand(fleet_, line)) {
                    ::kill(::getpid(), SIGTERM);
                    return;
                }
            }
        }
    }

    Fleet& fleet_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    try {
        opt = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "z31sim: %s\n%s", e.what(), kUsage);
        return kUsageError;
    }

    z31sim::StopSignals stop_signals;

    try {
        Fleet fleet(opt);
        const std::vector<int> ports =
            opt.ports.empty() ? std::vector<int>{opt.cfg.port_number} : opt.ports;
        if (opt.plugged) {
            for (const int port : ports) Say("device on " + fleet.Plug(port));
        }
        CommandReader commands(fleet);
        stop_signals.Wait();
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "%s\n%s", e.what(), kUsage);
        return kUsageError;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
