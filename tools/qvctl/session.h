// What qvctl's commands share: exit codes, the stop flag, the output stream, an open port that
// runs requests to their end, the device search and the request tables.
#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "progress.h"
#include "qvlib/session/qvlib.h"

namespace qvctl {

using Clock = std::chrono::steady_clock;

enum ExitCode {
    kExitOk = 0,
    kExitDeviceFailure = 1,
    kExitUsage = 2,
    kExitNoDevice = 3,
    kExitTimeout = 4,
    kExitInterrupted = 130,
};

// Short enough that a request's end is seen within a few milliseconds; a poll is an atomic read.
constexpr auto kPollInterval = std::chrono::milliseconds(2);
constexpr double kDefaultTimeoutS = 60;
constexpr double kWriteTimeoutS = 600;

// Set by SIGINT and SIGTERM; the polling loops see it and end the command.
// A lock-free atomic, so that the handler may store it and every job thread see it.
extern std::atomic<bool> g_stop;

// qvctl's own standard output (see SeparateLibraryOutput in main.cpp).
extern FILE* g_out;

// A command that cannot go on: its exit code and what to tell the user.
struct Failure {
    int code;
    std::string message;
};

// "normal", "download" or "none" for a mode result.
std::string ModeName(int mode);

// One open port, closed again when the command ends (also on a failure or an interruption).
class Session {
public:
    // Opens the port, or with `held` takes it as the caller opened it and leaves it open.
    Session(const std::string& model, int port, double timeout_s, bool held = false)
        : port_(port),
          keep_open_(held),
          deadline_(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(timeout_s))) {
        if (!held && OpenDevice(model.c_str(), port) != 1) {
            throw Failure{kExitNoDevice, "cannot open COM" + std::to_string(port) + " as model " +
                                             model + " (no such port, in use, or unknown model)"};
        }
    }
    // Closes the port, unless it is the caller's.
    ~Session() {
        if (!keep_open_) CloseDevice(port_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int port() const { return port_; }
    // How often a running request is looked at (kPollInterval unless changed): many sessions
    // polled at once look less often, so that together they cost no more.
    void SetPollInterval(std::chrono::milliseconds interval) { poll_interval_ = interval; }

    using ProgressFn = std::function<void(int64_t done, int64_t total)>;

    // Hands one request to the session and waits for its end; the query result (1 or 2).
    // A progress reporter, when given, follows the command's progress range.
    int Run(const std::string& what, const std::function<int(int)>& request,
            qvctl::ProgressReporter* progress = nullptr) {
        if (progress == nullptr) return Run(what, request, ProgressFn());
        return Run(what, request, ProgressFn([progress](int64_t done, int64_t total) {
                       progress->Update(done, total);
                   }));
    }
    // The same, telling `progress` the position in the command's range while it runs (and once
    // more at its end when it succeeded).
    int Run(const std::string& what, const std::function<int(int)>& request,
            const ProgressFn& progress) {
        if (request(port_) != 1) {
            throw Failure{kExitDeviceFailure,
                          "the library did not accept the " + what + " request"};
        }
        const auto report = [&] {
            const int min = GetQueryProgressMin(port_);
            progress(GetQueryProgressPos(port_) - min, GetQueryProgressMax(port_) - min);
        };
        while (GetQueryState(port_) != 2) {
            if (g_stop) throw Failure{kExitInterrupted, "interrupted during " + what};
            if (Clock::now() > deadline_) throw Failure{kExitTimeout, "time-out during " + what};
            if (progress) report();
            std::this_thread::sleep_for(poll_interval_);
        }
        const int result = GetQueryResult(port_);
        if (progress && result == 1) report();
        return result;
    }

    // Runs a request that must succeed: a device failure ends the command with exit code 1.
    void MustRun(const std::string& what, const std::function<int(int)>& request,
                 qvctl::ProgressReporter* progress = nullptr) {
        if (Run(what, request, progress) != 1) {
            throw Failure{kExitDeviceFailure, "the device reported a failure: " + what};
        }
    }

    // Puts the device into download mode unless the mode check finds it there already; the mode
    // found by that check.
    int EnsureDownloadMode() {
        Run("mode check", ReqGetDeviceMode);
        const int mode = GetDeviceModeResult(port_);
        if (mode == 2) return mode;
        if (Run("switch to download mode", ReqSetDeviceDNMode) != 1) {
            if (mode == 0) {
                throw Failure{kExitNoDevice, "no device answers on COM" + std::to_string(port_)};
            }
            throw Failure{kExitDeviceFailure, "the device did not enter download mode"};
        }
        return mode;
    }

private:
    int port_;
    bool keep_open_;
    Clock::time_point deadline_;
    std::chrono::milliseconds poll_interval_ = kPollInterval;
};

// A version query that must succeed: the text the device answered.
std::string VersionQuery(Session& s, const std::string& what, int (*request)(int));

// The device path behind a port number: $QVLIB_PORT_DIR/comN, else COM1-32 /dev/ttyS0-31,
// COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31; empty beyond those.
std::string PortPath(int port);

// Searches for devices of a model; the ports found, in probe order.
std::vector<int> FindDevices(const std::string& model, double timeout_s, bool json_out);

// The erase and write requests by area name.
const std::map<std::string, int (*)(int)>& EraseRequests();
const std::map<std::string, int (*)(int, const char*)>& WriteRequests();

// Writes a file whole or not at all: the text goes to a temporary file beside it, which then takes
// the name, so an existing file is never left half overwritten.
void SaveFileAtomically(const std::string& path, const std::string& text);

}  // namespace qvctl
