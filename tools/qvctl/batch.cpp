#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

#include "common/ports/port_list.h"
#include "port_watch.h"
#include "progress.h"
#include "session.h"

namespace qvctl {

using json = nlohmann::json;

std::string BatchStep::Name() const {
    switch (kind) {
        case kDownloadMode: return "download-mode";
        case kErase: return "erase " + area;
        case kWrite: return "write " + area;
        case kCheckVersion: return "check-version";
        case kReset: return "reset";
    }
    return "";
}

std::string OutcomeName(DeviceReport::Outcome outcome) {
    switch (outcome) {
        case DeviceReport::kOk: return "ok";
        case DeviceReport::kFailed: return "failed";
        case DeviceReport::kSkipped: return "skipped";
        case DeviceReport::kStopped: return "stopped";
    }
    return "";
}

namespace {

json VersionsJson(const Versions& v) {
    if (v.empty()) return nullptr;
    return {{"firmware", v.firmware}, {"database", v.database}, {"voice", v.voice}};
}

std::string VersionsText(const Versions& v) {
    if (v.empty()) return "-";
    return v.firmware + "/" + v.database + "/" + v.voice;
}

std::string Fit(std::string text, size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
}

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

}  // namespace

json ReportJson(const DeviceReport& r) {
    json j = {{"port", r.port},
              {"device_id", r.device_id},
              {"serial_number", r.serial_number},
              {"before", VersionsJson(r.before)},
              {"after", VersionsJson(r.after)},
              {"outcome", OutcomeName(r.outcome)},
              {"ok", r.outcome == DeviceReport::kOk},
              {"bytes", r.bytes},
              {"seconds", r.seconds},
              {"exit", r.exit}};
    if (!r.failed_step.empty()) j["failed_step"] = r.failed_step;
    if (!r.error.empty()) j["error"] = r.error;
    return j;
}

std::string FormatDeviceLine(const DeviceLine& line, size_t width) {
    std::string text = Pad("COM" + std::to_string(line.port), 7) + Pad(line.step, 15);
    if (!line.outcome.empty()) {
        text += line.outcome;
    } else if (line.total > 0) {
        text += FormatProgressBar(line.done, line.total, line.step_seconds);
    } else {
        text += "... " + FormatDuration(line.step_seconds);
    }
    return Fit(text, width);
}

std::string FormatSummary(const std::vector<DeviceReport>& reports) {
    const std::vector<std::string> head = {"Port",  "Device ID", "Serial number", "Before",
                                           "After", "Outcome",   "Time"};
    std::vector<std::vector<std::string>> rows = {head};
    for (const DeviceReport& r : reports) {
        std::string outcome = OutcomeName(r.outcome);
        if (!r.failed_step.empty()) outcome += " at " + r.failed_step;
        if (!r.error.empty()) outcome += ": " + r.error;
        rows.push_back({"COM" + std::to_string(r.port), r.device_id.empty() ? "-" : r.device_id,
                        r.serial_number.empty() ? "-" : r.serial_number, VersionsText(r.before),
                        VersionsText(r.after), outcome, Seconds(r.seconds)});
    }
    std::vector<size_t> widths(head.size(), 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i + 1 < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        // The time goes before the outcome, which is the one column of any length.
        for (size_t i : {0, 1, 2, 3, 4, 6, 5}) {
            line += i == 5 ? row[i] : Pad(row[i], (i == 6 ? 7 : widths[i]) + 2);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
    }
    return text;
}

std::string FormatTally(int ok, int failed, int skipped, int running) {
    return "serviced " + std::to_string(ok) + ", failed " + std::to_string(failed) + ", skipped " +
           std::to_string(skipped) + ", running " + std::to_string(running);
}

void BatchEvents::Emit(const json& event) {
    std::fprintf(out_, "%s\n", event.dump().c_str());
    std::fflush(out_);
}

void BatchEvents::StepStarted(int port, const std::string& step) {
    std::lock_guard lock(mutex_);
    State& state = devices_[port];
    state.line = DeviceLine{port, step, 0, 0, 0, ""};
    state.step_start = Clock::now();
    state.last_done = -1;
    if (style_ == Style::kJson) {
        Emit({{"event", "step"}, {"port", port}, {"step", step}, {"state", "start"}});
    }
}

void BatchEvents::Progress(int port, int64_t done, int64_t total) {
    std::lock_guard lock(mutex_);
    State& state = devices_[port];
    state.line.done = done;
    state.line.total = total;
    if (style_ != Style::kJson || done == state.last_done) return;
    // As the single-port progress: every 200 ms at most, and always the first and last position.
    const auto now = Clock::now();
    if (state.last_done >= 0 && done < total &&
        now - state.last_event < std::chrono::milliseconds(200)) {
        return;
    }
    state.last_event = now;
    state.last_done = done;
    Emit({{"event", "progress"},
          {"port", port},
          {"step", state.line.step},
          {"done", done},
          {"total", total}});
}

void BatchEvents::StepEnded(int port, bool ok, const std::string& detail) {
    std::lock_guard lock(mutex_);
    State& state = devices_[port];
    const double seconds = std::chrono::duration<double>(Clock::now() - state.step_start).count();
    if (style_ == Style::kJson) {
        json event = {{"event", "step"},
                      {"port", port},
                      {"step", state.line.step},
                      {"state", ok ? "ok" : "failed"},
                      {"seconds", seconds}};
        if (!detail.empty()) event[ok ? "detail" : "error"] = detail;
        Emit(event);
    } else if (style_ == Style::kPlain) {
        std::fprintf(out_, "COM%d: %s %s%s (%s)\n", port, state.line.step.c_str(),
                     ok ? "ok" : "failed", detail.empty() ? "" : (": " + detail).c_str(),
                     Seconds(seconds).c_str());
        std::fflush(out_);
    }
}

void BatchEvents::DeviceEnded(const DeviceReport& report) {
    std::lock_guard lock(mutex_);
    State& state = devices_[report.port];
    state.line.port = report.port;
    state.line.outcome = OutcomeName(report.outcome);
    if (!report.error.empty()) state.line.outcome += ": " + report.error;
    if (style_ == Style::kJson) {
        json event = ReportJson(report);
        event["event"] = "device";
        Emit(event);
    } else if (style_ == Style::kPlain) {
        std::fprintf(out_, "COM%d: %s\n", report.port, state.line.outcome.c_str());
        std::fflush(out_);
    }
}

void BatchEvents::Note(const std::string& text, const json& event) {
    std::lock_guard lock(mutex_);
    if (style_ == Style::kJson) {
        Emit(event);
    } else if (style_ == Style::kPlain) {
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    } else {
        notes_.assign(1, text);
    }
}

void BatchEvents::Redraw(bool force) {
    if (style_ != Style::kTerminal) return;
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (!force && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    DrawLocked();
}

void BatchEvents::DrawLocked() {
    // Back to the first line drawn, then every line again, cleared first.
    if (drawn_lines_ > 0) std::fprintf(out_, "\x1b[%zuA", drawn_lines_);
    const auto now = Clock::now();
    size_t lines = 0;
    for (auto& [port, state] : devices_) {
        if (state.line.outcome.empty()) {
            state.line.step_seconds = std::chrono::duration<double>(now - state.step_start).count();
        }
        std::fprintf(out_, "\r\x1b[2K%s\n", FormatDeviceLine(state.line, 119).c_str());
        ++lines;
    }
    for (const std::string& note : notes_) {
        std::fprintf(out_, "\r\x1b[2K%s\n", Fit(note, 119).c_str());
        ++lines;
    }
    drawn_lines_ = lines;
    std::fflush(out_);
}

namespace {
// A job's request is looked at every 20 ms: its end is seen a little later than by a single
// command, which costs nothing beside steps of seconds, and sixteen jobs cost the host little.
constexpr auto kJobPollInterval = std::chrono::milliseconds(20);
}  // namespace

DeviceReport RunJob(const std::string& model, int port, const Job& job, double timeout_s,
                    BatchEvents& events, const RefuseFn& refuse, bool held) {
    DeviceReport report;
    report.port = port;
    const auto start = Clock::now();
    std::string step = "identify";
    events.StepStarted(port, step);
    try {
        Session s(model, port, timeout_s, held);
        s.SetPollInterval(kJobPollInterval);
        s.EnsureDownloadMode();
        bool download_mode = true;
        report.device_id = VersionQuery(s, "device ID", ReqGetDeviceID);
        report.serial_number = VersionQuery(s, "serial number", ReqGetSerialNumber);
        const auto read_versions = [&] {
            return Versions{VersionQuery(s, "firmware version", ReqGetFWVersion),
                            VersionQuery(s, "database version", ReqGetDBVersion),
                            VersionQuery(s, "voice version", ReqGetVOCVersion)};
        };
        report.before = read_versions();
        events.StepEnded(port, true, report.device_id + " " + report.serial_number);
        if (refuse) {
            const std::string reason = refuse(report);
            if (!reason.empty()) {
                report.outcome = DeviceReport::kSkipped;
                report.error = reason;
                report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
                events.DeviceEnded(report);
                return report;
            }
        }
        for (const BatchStep& next : job) {
            step = next.Name();
            events.StepStarted(port, step);
            if (next.kind != BatchStep::kReset && !download_mode) {
                s.EnsureDownloadMode();
                download_mode = true;
            }
            std::string detail;
            switch (next.kind) {
                case BatchStep::kDownloadMode: break;  // the device is in download mode now
                case BatchStep::kErase: s.MustRun(step, EraseRequests().at(next.area)); break;
                case BatchStep::kWrite: {
                    auto request = WriteRequests().at(next.area);
                    const int result = s.Run(
                        step, [&](int p) { return request(p, next.file.c_str()); },
                        Session::ProgressFn([&](int64_t done, int64_t total) {
                            events.Progress(port, done, total);
                        }));
                    const int64_t bytes = GetQueryProgressPos(port) - GetQueryProgressMin(port);
                    if (result != 1) {
                        throw Failure{kExitDeviceFailure,
                                      "the device did not accept the " + next.area + " image"};
                    }
                    report.bytes += bytes;
                    detail = std::to_string(bytes) + " bytes";
                    break;
                }
                case BatchStep::kCheckVersion:
                    report.after = read_versions();
                    detail = VersionsText(report.after);
                    break;
                case BatchStep::kReset:
                    s.MustRun(step, ReqResetDevice);
                    download_mode = false;
                    break;
            }
            events.StepEnded(port, true, detail);
        }
        report.outcome = DeviceReport::kOk;
    } catch (const Failure& f) {
        report.outcome =
            f.code == kExitInterrupted ? DeviceReport::kStopped : DeviceReport::kFailed;
        report.failed_step = step;
        report.error = f.message;
        report.exit = f.code;
        events.StepEnded(port, false, f.message);
    } catch (const std::exception& e) {
        report.failed_step = step;
        report.error = e.what();
        report.exit = kExitDeviceFailure;
        events.StepEnded(port, false, e.what());
    }
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    events.DeviceEnded(report);
    return report;
}

namespace {

double JobTimeout(const BatchOptions& options) {
    if (options.timeout_s > 0) return options.timeout_s;
    const bool writes = std::any_of(options.job.begin(), options.job.end(),
                                    [](const BatchStep& s) { return s.kind == BatchStep::kWrite; });
    return writes ? kWriteTimeoutS : kDefaultTimeoutS;
}

BatchEvents::Style StyleOf(const BatchOptions& options) {
    if (options.json) return BatchEvents::Style::kJson;
    return isatty(fileno(g_out)) == 1 ? BatchEvents::Style::kTerminal : BatchEvents::Style::kPlain;
}

// The end of a batch or a watch: the summary, the report file and the exit code.
int Finish(const std::string& command, std::vector<DeviceReport> reports,
           const BatchOptions& options, BatchEvents& events, bool interrupted) {
    std::sort(reports.begin(), reports.end(),
              [](const DeviceReport& a, const DeviceReport& b) { return a.port < b.port; });
    events.Redraw(true);
    std::vector<int> failed;
    json devices = json::array();
    for (const DeviceReport& r : reports) {
        if (r.outcome == DeviceReport::kFailed || r.outcome == DeviceReport::kStopped) {
            failed.push_back(r.port);
        }
        devices.push_back(ReportJson(r));
    }
    const int code = interrupted ? kExitInterrupted : failed.empty() ? kExitOk : kExitDeviceFailure;
    json result = {{"event", "result"}, {"command", command}, {"ok", code == kExitOk},
                   {"exit", code},      {"devices", devices}, {"failed", failed}};
    if (!options.report_file.empty()) {
        try {
            json file = result;
            file.erase("event");
            SaveFileAtomically(options.report_file, file.dump(2) + "\n");
        } catch (const Failure& f) {
            std::fprintf(stderr, "qvctl: %s\n", f.message.c_str());
        }
    }
    if (options.json) {
        std::fprintf(g_out, "%s\n", result.dump().c_str());
    } else {
        std::fprintf(g_out, "\n%s", FormatSummary(reports).c_str());
    }
    std::fflush(g_out);
    if (!failed.empty()) {
        std::string names;
        for (const DeviceReport& r : reports) {
            if (std::find(failed.begin(), failed.end(), r.port) == failed.end()) continue;
            names += (names.empty() ? "" : ", ") + ("COM" + std::to_string(r.port)) + " (" +
                     r.error + ")";
        }
        std::fprintf(stderr, "qvctl: %zu of %zu devices failed: %s\n", failed.size(),
                     reports.size(), names.c_str());
    }
    return code;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    std::vector<int> ports = options.ports;
    if (!options.find_model.empty()) ports = FindDevices(options.find_model, 60, options.json);
    if (ports.empty()) throw Failure{kExitNoDevice, "no " + options.find_model + " device found"};

    BatchEvents events(StyleOf(options), g_out);
    std::vector<DeviceReport> reports(ports.size());
    std::vector<std::thread> jobs;
    std::atomic<size_t> running{ports.size()};
    const double timeout_s = JobTimeout(options);
    for (size_t i = 0; i < ports.size(); ++i) {
        jobs.emplace_back([&, i] {
            reports[i] = RunJob(options.model, ports[i], options.job, timeout_s, events);
            running.fetch_sub(1, std::memory_order_release);
        });
    }
    while (running.load(std::memory_order_acquire) > 0) {
        events.Redraw();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& job : jobs) job.join();
    return Finish("batch", std::move(reports), options, events, g_stop.load());
}

}  // namespace qvctl

namespace qvctl {

int RunWatch(const BatchOptions& options) {
    const char* dir = std::getenv("QVLIB_PORT_DIR");
    PortWatch watch(dir != nullptr ? dir : "");
    BatchEvents events(StyleOf(options), g_out);
    const double timeout_s = JobTimeout(options);
    events.Note(
        "watching for " + options.find_model + " devices (" + watch.How() + "); Ctrl-C ends",
        {{"event", "watch"}, {"model", options.find_model}, {"how", watch.How()}});

    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<DeviceReport> report = std::make_shared<DeviceReport>();
    };
    std::map<int, Running> running;
    // The ports of the devices taken on, running or done, held open until the device goes so
    // that no later search probes them again (a search leaves open ports alone).
    std::map<int, std::string> held;
    std::mutex serviced_mutex;
    std::vector<std::string> serviced;  // serial numbers (or device IDs) of devices done well
    std::vector<DeviceReport> reports;
    int ok = 0, failed = 0, skipped = 0;
    bool searching = false;
    bool rescan = true;
    auto last_search = Clock::now();

    const RefuseFn refuse = [&](const DeviceReport& r) -> std::string {
        const std::string identity = r.serial_number.empty() ? r.device_id : r.serial_number;
        std::lock_guard lock(serviced_mutex);
        if (std::find(serviced.begin(), serviced.end(), identity) != serviced.end()) {
            return "already serviced (" + identity + ")";
        }
        return "";
    };
    const auto tally = [&] {
        events.Note(FormatTally(ok, failed, skipped, static_cast<int>(running.size())),
                    {{"event", "tally"},
                     {"serviced", ok},
                     {"failed", failed},
                     {"skipped", skipped},
                     {"running", running.size()}});
    };

    while (!g_stop) {
        if (watch.Wait(100)) rescan = true;
        // Ends the jobs that are done.
        for (auto it = running.begin(); it != running.end();) {
            if (!it->second.done->load(std::memory_order_acquire)) {
                ++it;
                continue;
            }
            it->second.thread.join();
            const DeviceReport& r = *it->second.report;
            if (r.outcome == DeviceReport::kOk) {
                ++ok;
                std::lock_guard lock(serviced_mutex);
                serviced.push_back(r.serial_number.empty() ? r.device_id : r.serial_number);
            } else if (r.outcome == DeviceReport::kSkipped) {
                ++skipped;
            } else {
                ++failed;
            }
            reports.push_back(r);
            it = running.erase(it);
            tally();
        }
        // Lets go of the ports whose device has gone.
        for (auto it = held.begin(); it != held.end();) {
            // A job's port is its own until the job ends (a pulled device fails the job first).
            if (running.count(it->first) != 0 || access(it->second.c_str(), F_OK) == 0) {
                ++it;
                continue;
            }
            CloseDevice(it->first);
            it = held.erase(it);
            rescan = true;
        }
        if (searching && FindDeviceState() == 2) {
            searching = false;
            const int count = GetFoundDeviceCount();
            for (int i = 0; i < count; ++i) {
                const int port = GetFoundDevicePort(i);
                if (running.count(port) != 0 || held.count(port) != 0) continue;
                // Opened here, before the next search can probe it, and held from now on.
                held[port] = PortPath(port);
                if (OpenDevice(options.model.c_str(), port) != 1) continue;
                Running& job = running[port];
                auto done = job.done;
                auto report = job.report;
                job.thread = std::thread([&, port, done, report] {
                    *report = RunJob(options.model, port, options.job, timeout_s, events, refuse,
                                     /*held=*/true);
                    done->store(true, std::memory_order_release);
                });
            }
        }
        // A search when ports came or went, and every two seconds for a device that was not
        // ready to answer the last one.
        if (!searching && (rescan || Clock::now() - last_search > std::chrono::seconds(2))) {
            rescan = false;
            last_search = Clock::now();
            searching = ReqFindDevice(options.find_model.c_str()) == 1;
        }
        events.Redraw();
    }

    // Interrupted: the jobs still running stop at their next poll and close nothing they hold
    // but their port, which is closed here with the others.
    bool stopped = false;
    for (auto& [port, job] : running) {
        job.thread.join();
        stopped = stopped || job.report->outcome == DeviceReport::kStopped;
        if (job.report->outcome == DeviceReport::kStopped) {
            ++failed;
        }
        reports.push_back(*job.report);
    }
    for (const auto& [port, path] : held) CloseDevice(port);
    const int code = Finish("watch", std::move(reports), options, events, stopped);
    if (FindDeviceState() == 1) {
        // The search has no cancel; its thread must not hold up the exit.
        std::fflush(nullptr);
        _exit(code);
    }
    return code;
}

}  // namespace qvctl
