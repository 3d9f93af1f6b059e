// qvctl batch and watch: one job of steps run on many devices at once, each on its own session
// and thread, with one display for all of them and a report per device at the end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qvctl {

// One step of a job, in the order the command line gives them.
struct BatchStep {
    enum Kind { kDownloadMode, kErase, kWrite, kCheckVersion, kReset };
    Kind kind;
    std::string area;          // kErase and kWrite
    std::string file;          // kWrite: an absolute path
    std::string Name() const;  // "erase db", "write db", "check-version", ...
};
using Job = std::vector<BatchStep>;

struct Versions {
    std::string firmware, database, voice;
    bool empty() const { return firmware.empty() && database.empty() && voice.empty(); }
};

// How one device's job ended.
struct DeviceReport {
    int port = 0;
    std::string device_id;
    std::string serial_number;
    Versions before;  // read when the device was identified
    Versions after;   // read by check-version (the last one), else empty
    enum Outcome { kOk, kFailed, kSkipped, kStopped } outcome = kFailed;
    std::string failed_step;  // the step that failed, for kFailed and kStopped
    std::string error;        // why, for kFailed, kStopped and kSkipped
    int64_t bytes = 0;        // written by the job's write steps
    double seconds = 0;
    int exit = 0;  // the exit code the same job alone would have had
};
std::string OutcomeName(DeviceReport::Outcome outcome);
nlohmann::json ReportJson(const DeviceReport& report);

// What the display shows of one device while its job runs.
struct DeviceLine {
    int port = 0;
    std::string step;
    int64_t done = 0, total = 0;  // bytes of a write step
    double step_seconds = 0;      // time since the step began
    std::string outcome;          // empty while running: "ok", "failed: ...", "skipped: ..."
};
// "COM3   write db       [#####-----]  50%  512.0 KiB / 1.0 MiB  11.2 KiB/s  0:45 left", cut to
// `width` columns.
std::string FormatDeviceLine(const DeviceLine& line, size_t width);
// The end table: port, device ID, serial number, versions before and after, outcome, time.
std::string FormatSummary(const std::vector<DeviceReport>& reports);
// "serviced 3, failed 1, skipped 1, running 2".
std::string FormatTally(int ok, int failed, int skipped, int running);

// The events of all jobs: a redrawn screen on a terminal, plain lines otherwise, or one JSON
// object a line, each tagged with its port. Called from every job's thread.
class BatchEvents {
public:
    enum class Style { kTerminal, kPlain, kJson };
    BatchEvents(Style style, FILE* out) : style_(style), out_(out) {}

    void StepStarted(int port, const std::string& step);
    void Progress(int port, int64_t done, int64_t total);
    void StepEnded(int port, bool ok, const std::string& detail);
    void DeviceEnded(const DeviceReport& report);
    // A line of its own (the watch tally, a note): printed as it is, or as a JSON event.
    void Note(const std::string& text, const nlohmann::json& event);
    // Redraws the terminal screen (at most every 100 ms; `force` draws now). Plain and JSON
    // output print as events come and ignore this.
    void Redraw(bool force = false);

private:
    using Clock = std::chrono::steady_clock;
    struct State {
        DeviceLine line;
        Clock::time_point step_start;
        Clock::time_point last_event{};
        int64_t last_done = -1;
    };
    void Emit(const nlohmann::json& event);
    void DrawLocked();

    const Style style_;
    FILE* out_;
    std::mutex mutex_;
    std::map<int, State> devices_;
    std::vector<std::string> notes_;  // terminal: the latest note, drawn under the devices
    size_t drawn_lines_ = 0;
    Clock::time_point last_draw_{};
};

// Opens the port, identifies the device (download mode, device ID, serial number, versions) and
// runs the job's steps in order; the first failure ends the job. `refuse`, when given, is asked
// after the identification: a reason it returns skips the job. With `held` the caller has opened
// the port and closes it after the job. Never throws.
using RefuseFn = std::function<std::string(const DeviceReport&)>;
DeviceReport RunJob(const std::string& model, int port, const Job& job, double timeout_s,
                    BatchEvents& events, const RefuseFn& refuse = nullptr, bool held = false);

struct BatchOptions {
    std::string model;       // the model ports are opened as
    std::vector<int> ports;  // --ports
    std::string find_model;  // --find: the ports the finder reports (watch: the model watched)
    Job job;
    bool json = false;
    std::string report_file;  // --report
    double timeout_s = 0;     // each device's job; 0: 60 s, 600 s with a write step
};
// Runs the job on every port at once and prints the summary: the exit code, 0 only when every
// device succeeded.
int RunBatch(const BatchOptions& options);
// Services each device of the model that appears, once, until SIGINT or SIGTERM.
int RunWatch(const BatchOptions& options);

}  // namespace qvctl
