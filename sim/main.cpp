// z31sim: runs one simulated Z31 on a pseudo-terminal until SIGINT or SIGTERM.
#include <signal.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/stop_signals.h"
#include "sim/z31sim.h"

namespace {

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: z31sim [--port-dir DIR] [--port N] [--nmea-baud B] [--command-baud B]\n"
    "              [--mode normal|download] [--nmea-period MS] [--fw V] [--db V] [--voc V]\n"
    "              [--id ID] [--serial S]\n"
    "Creates DIR/comN (DIR defaults to $QVLIB_PORT_DIR, N to 1) linked to a pseudo-terminal\n"
    "on which a simulated Z31 answers, and runs until interrupted.\n";

constexpr std::array<std::string_view, 11> kOptions = {
    "--port-dir", "--port", "--nmea-baud", "--command-baud", "--mode",  "--nmea-period",
    "--fw",       "--db",   "--voc",       "--id",           "--serial"};

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

struct Options {
    std::string port_dir;
    z31sim::DeviceConfig cfg;
};

Options Parse(int argc, char** argv) {
    Options opt;
    if (const char* env = std::getenv("QVLIB_PORT_DIR")) opt.port_dir = env;
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
        }
    }
    if (opt.port_dir.empty()) {
        throw UsageError("no port folder: give --port-dir or set QVLIB_PORT_DIR");
    }
    return opt;
}

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
        z31sim::Device device(opt.port_dir, opt.cfg);
        std::printf("z31sim: device on %s\n", device.PortPath().c_str());
        std::fflush(stdout);
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
