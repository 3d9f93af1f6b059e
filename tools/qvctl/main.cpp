// qvctl: the command line of QVLib. Each subcommand opens one port through the library's public C
// interface, runs its requests to their end and closes the port again.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "common/ports/port_list.h"
#include "common/userpoints/points_file.h"
#include "progress.h"
#include "qvlib/session/qvlib.h"
#include "session.h"

namespace {

using json = nlohmann::json;
using namespace qvctl;

constexpr char kExitCodeTable[] =
    "Exit codes:\n"
    "  0    success\n"
    "  1    the device reported a failure\n"
    "  2    usage error, or a faulty points file\n"
    "  3    the port cannot be opened, or no device found\n"
    "  4    time-out\n"
    "  130  interrupted (SIGINT or SIGTERM)\n";

// The library prints diagnostics of its own to standard output; those are sent to standard error
// instead, and qvctl's own output (g_out) keeps the real standard output, so that what qvctl
// prints (JSON lines above all) stays clean.
void SeparateLibraryOutput() {
    const int own = dup(STDOUT_FILENO);
    if (own < 0) return;
    FILE* out = fdopen(own, "w");
    if (out == nullptr) {
        close(own);
        return;
    }
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    g_out = out;
}

extern "C" void OnStopSignal(int) { g_stop.store(true); }

void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a sleeping poll wakes up at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

struct GlobalOptions {
    int port = 0;
    std::string find_model;
    std::string model = "Z31STD";
    bool model_given = false;
    std::string port_dir;
    bool json = false;
    double timeout_s = 0;  // 0: the command's own default
};

// What a command prints: plain lines, or with --json one result object at the end.
class Output {
public:
    explicit Output(bool json) : json_(json) {}

    bool json_mode() const { return json_; }
    void SetCommand(std::string command) { command_ = std::move(command); }
    void SetPort(int port) { port_ = port; }
    // A value read from the device: a JSON field, and a plain line "label  value".
    void Value(const std::string& key, const std::string& label, const json& value) {
        fields_[key] = value;
        if (!json_) {
            std::fprintf(
                g_out, "%-17s %s\n", label.c_str(),
                value.is_string() ? value.get<std::string>().c_str() : value.dump().c_str());
            std::fflush(g_out);
        }
    }
    // A JSON field only.
    void Field(const std::string& key, const json& value) { fields_[key] = value; }
    // A plain line only.
    void Line(const std::string& text) {
        if (json_) return;
        std::fprintf(g_out, "%s\n", text.c_str());
        std::fflush(g_out);
    }
    int Finish(int code, const std::string& error = "") {
        if (!error.empty()) std::fprintf(stderr, "qvctl: %s\n", error.c_str());
        if (json_) {
            json result = {{"event", "result"}, {"command", command_}};
            if (port_ > 0) result["port"] = port_;
            result["ok"] = code == kExitOk;
            result["exit"] = code;
            if (!error.empty()) result["error"] = error;
            for (auto& [key, value] : fields_.items()) result[key] = value;
            std::fprintf(g_out, "%s\n", result.dump().c_str());
            std::fflush(g_out);
        }
        return code;
    }

private:
    bool json_;
    std::string command_;
    int port_ = 0;
    json fields_ = json::object();
};

// A port's number and what stands behind it, as `ports` lists them.
struct PortEntry {
    int port;
    std::string path;
};

std::vector<PortEntry> ListPorts(const char* port_dir) {
    std::vector<PortEntry> ports;
    namespace fs = std::filesystem;
    std::error_code ec;
    if (port_dir != nullptr) {
        for (const auto& entry : fs::directory_iterator(port_dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.size() < 4 || name.compare(0, 3, "com") != 0) continue;
            const std::string digits = name.substr(3);
            if (digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
                continue;
            const int port = std::stoi(digits);
            if (IsPortValid(port) == 1 && std::to_string(port) == digits) {
                ports.push_back({port, entry.path().string()});
            }
        }
    } else {
        for (int port = 1; port <= 96; ++port) {
            const std::string path = PortPath(port);
            if (fs::exists(path, ec)) ports.push_back({port, path});
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.port < b.port; });
    return ports;
}

int CmdPorts(const GlobalOptions& opts, Output& out) {
    const char* port_dir = std::getenv("QVLIB_PORT_DIR");
    if (port_dir != nullptr && *port_dir == '\0') port_dir = nullptr;
    if (port_dir != nullptr) {
        out.Line(std::string("Port N is ") + port_dir + "/comN (QVLIB_PORT_DIR)");
        out.Field("numbering", std::string(port_dir) + "/comN");
    } else {
        out.Line(
            "Port N: COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31");
        out.Field("numbering",
                  "COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31, "
                  "COM65-96 /dev/ttyACM0-31");
    }
    json list = json::array();
    const auto ports = ListPorts(port_dir);
    for (const auto& entry : ports) {
        if (g_stop) return out.Finish(kExitInterrupted, "interrupted");
        std::string target;
        std::error_code ec;
        if (std::filesystem::is_symlink(entry.path, ec)) {
            target = std::filesystem::read_symlink(entry.path, ec).string();
        }
        // A port counts as free when the library can open it; it is closed again at once.
        bool free = false;
        if (IsDeviceOpened(entry.port) != 1 && OpenDevice(opts.model.c_str(), entry.port) == 1) {
            free = true;
            CloseDevice(entry.port);
        }
        list.push_back({{"port", entry.port},
                        {"path", entry.path},
                        {"target", target},
                        {"state", free ? "free" : "busy"}});
        out.Line("COM" + std::to_string(entry.port) + "  " + entry.path +
                 (target.empty() ? "" : " -> " + target) + "  " + (free ? "free" : "busy"));
    }
    if (ports.empty()) out.Line("(no ports)");
    out.Field("ports", list);
    return out.Finish(kExitOk);
}

int CmdFind(const std::string& model, double timeout_s, Output& out) {
    const auto found = FindDevices(model, timeout_s, out.json_mode());
    out.Field("model", model);
    out.Field("ports", found);
    for (int port : found) out.Line("COM" + std::to_string(port));
    if (found.empty()) return out.Finish(kExitNoDevice, "no " + model + " device found");
    return out.Finish(kExitOk);
}

void CmdInfo(Session& s, Output& out) {
    const int mode = s.EnsureDownloadMode();
    out.Value("firmware", "Firmware version", VersionQuery(s, "firmware version", ReqGetFWVersion));
    out.Value("database", "Database version", VersionQuery(s, "database version", ReqGetDBVersion));
    out.Value("voice", "Voice version", VersionQuery(s, "voice version", ReqGetVOCVersion));
    out.Value("device_id", "Device ID", VersionQuery(s, "device ID", ReqGetDeviceID));
    out.Value("serial_number", "Serial number",
              VersionQuery(s, "serial number", ReqGetSerialNumber));
    out.Value("mode", "Device mode", ModeName(mode));
}

void CmdMode(Session& s, Output& out) {
    const int result = s.Run("mode check", ReqGetDeviceMode);
    const int mode = GetDeviceModeResult(s.port());
    out.Value("mode", "Device mode", ModeName(mode));
    if (result != 1 || mode == 0) {
        throw Failure{kExitNoDevice, "no device answers on COM" + std::to_string(s.port())};
    }
}

template <typename Map>
std::vector<std::string> Keys(const Map& map) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : map) keys.push_back(key);
    return keys;
}

void CmdErase(Session& s, const std::string& area, Output& out) {
    s.EnsureDownloadMode();
    s.MustRun("erase " + area, EraseRequests().at(area));
    out.Field("area", area);
    out.Line("Erased " + area);
}

void CmdWrite(Session& s, const std::string& area, const std::string& file, Output& out) {
    s.EnsureDownloadMode();
    const std::string path = std::filesystem::absolute(file).string();
    const auto start = Clock::now();
    int result;
    {
        qvctl::ProgressReporter progress("write-" + area, out.json_mode(), g_out,
                                         isatty(STDERR_FILENO) == 1);
        auto request = WriteRequests().at(area);
        result = s.Run(
            "write " + area, [&](int port) { return request(port, path.c_str()); }, &progress);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int bytes = GetQueryProgressPos(s.port()) - GetQueryProgressMin(s.port());
    out.Field("area", area);
    out.Field("file", path);
    out.Field("bytes", bytes);
    out.Field("seconds", seconds);
    if (result != 1) {
        throw Failure{kExitDeviceFailure,
                      "the device did not accept the " + area + " image " + file};
    }
    char line[128];
    std::snprintf(line, sizeof line, "Wrote %d bytes to %s in %.1f s", bytes, area.c_str(),
                  seconds);
    out.Line(line);
}

void CmdSerialSet(Session& s, const std::string& text, Output& out) {
    s.EnsureDownloadMode();
    out.Field("serial_number", text);
    if (s.Run("serial number write",
              [&](int port) { return ReqSetSerialNumber(port, text.c_str()); }) != 1) {
        throw Failure{kExitDeviceFailure,
                      "the device refused the serial number (one stored already? run "
                      "\"erase serial\" first)"};
    }
    out.Line("Serial number set to " + text);
}

void CmdSerialGet(Session& s, Output& out) {
    s.EnsureDownloadMode();
    out.Value("serial_number", "Serial number",
              VersionQuery(s, "serial number", ReqGetSerialNumber));
}

void CmdQcView(Session& s, Output& out) {
    s.EnsureDownloadMode();
    s.MustRun("QC view", ReqViewQC);
    const char* text = GetViewQC(s.port());
    const std::string report = text != nullptr ? text : "";
    out.Field("report", report);
    if (!out.json_mode()) {
        std::fputs(report.c_str(), g_out);
        if (!report.empty() && report.back() != '\n') std::fputs("\n", g_out);
        std::fflush(g_out);
    }
}

void CmdQcResult(Session& s, Output& out) {
    s.EnsureDownloadMode();
    s.MustRun("QC result", ReqQCTestResult);
    static const char* const kVerdicts[] = {"pass", "fail", "not-done", "unknown"};
    const int verdict = GetQCTestResult(s.port());
    out.Value("verdict", "QC verdict", kVerdicts[verdict >= 0 && verdict <= 3 ? verdict : 3]);
}

// The settings as the device holds them, by name; what `settings get` prints.
json ReadSettingsLists(int port) {
    json speeds = json::array();
    for (unsigned i = 0; i < GetUserSpeedCount(port); ++i) speeds.push_back(GetUserSpeed(port, i));
    auto single = [&](unsigned count, int value) {
        return count > 0 ? json(value) : json(nullptr);
    };
    return {{"speeds", speeds},
            {"warning", single(GetWarningBySecondCount(port), GetWarningBySecond(port, 0))},
            {"unit", single(GetSpeedUnitCount(port), GetSpeedUnit(port, 0))},
            {"gmt", single(GetGMTCount(port), GetGMT(port, 0))},
            {"summer", single(GetSummerTimeCount(port), GetSummerTime(port, 0))},
            {"clock", single(GetTimeSetCount(port), GetTimeSet(port, 0))}};
}

void PrintSettings(const json& settings, Output& out) {
    for (const auto& [key, value] : settings.items()) {
        out.Value(key, key, value.is_null() ? json("-") : value);
        out.Field(key, value);
    }
}

void CmdSettingsGet(Session& s, Output& out) {
    s.EnsureDownloadMode();
    s.MustRun("settings read", ReqGetUserSetting);
    PrintSettings(ReadSettingsLists(s.port()), out);
}

// The values `settings set` changes; the others keep what the device holds.
struct SettingsChange {
    std::optional<int> speed[5];
    std::optional<int> warning, unit, gmt, summer, clock;
};

void CmdSettingsSet(Session& s, const SettingsChange& change, Output& out) {
    s.EnsureDownloadMode();
    const int port = s.port();
    s.MustRun("settings read", ReqGetUserSetting);
    // The five speed slots: the device's values, then the changes, then every slot as a value
    // (-1 is the device's "no value") so that a changed slot keeps its place.
    int speeds[5];
    for (int i = 0; i < 5; ++i) speeds[i] = GetUserSpeed(port, i);
    for (int i = 0; i < 5; ++i) {
        if (change.speed[i]) speeds[i] = *change.speed[i];
    }
    int last = 4;
    while (last >= 0 && speeds[last] == -1) --last;
    DeleteAllUserSpeeds(port);
    for (int i = 0; i <= last; ++i) AddUserSpeed(port, speeds[i]);
    auto set_single = [&](const std::optional<int>& value, int (*delete_all)(int),
                          int (*add)(int, int)) {
        if (!value) return;
        delete_all(port);
        add(port, *value);
    };
    set_single(change.warning, DeleteAllWarningBySeconds, AddWarningBySecond);
    set_single(change.unit, DeleteAllSpeedUnit, AddSpeedUnit);
    set_single(change.gmt, DeleteAllGMT, AddGMT);
    set_single(change.summer, DeleteAllSummerTime, AddSummerTime);
    set_single(change.clock, DeleteAllTimeSet, AddTimeSet);
    const json written = ReadSettingsLists(port);
    s.MustRun("settings write", ReqSetUserSetting);
    PrintSettings(written, out);
}

// The largest points file read: 9999 points take some 3 MB as GPX.
constexpr std::uintmax_t kMaxPointsFileBytes = 32u << 20;

// Reads and checks a points file before any device is touched; a fault ends the command with the
// file's line and the reason.
std::vector<UserPointEntry> LoadPointsFile(const std::string& path) {
    const auto format = qvpoints::PointsFormatOf(path);
    if (!format) throw Failure{kExitUsage, path + ": the file name must end in .gpx or .csv"};
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) throw Failure{kExitUsage, path + ": " + ec.message()};
    if (size > kMaxPointsFileBytes) {
        throw Failure{kExitUsage,
                      path + ": too large for a points file (" + std::to_string(size) + " bytes)"};
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) throw Failure{kExitUsage, path + ": cannot be read"};
    qvpoints::PointsParseResult parsed = qvpoints::ParsePoints(*format, text);
    if (!parsed.ok()) {
        throw Failure{kExitUsage, path + ":" + std::to_string(parsed.error_line) + ": " +
                                      parsed.error + " (nothing was changed on the device)"};
    }
    return std::move(parsed.points);
}

void CmdPointsGet(Session& s, const std::string& file, Output& out) {
    const auto format = qvpoints::PointsFormatOf(file);
    s.EnsureDownloadMode();
    s.MustRun("user point read", ReqGetUserDB);
    std::vector<UserPointEntry> points(GetUserDBCount(s.port()));
    for (size_t i = 0; i < points.size(); ++i) GetUserDB(s.port(), static_cast<int>(i), &points[i]);
    SaveFileAtomically(file, *format == qvpoints::PointsFormat::kGpx ? qvpoints::WriteGpx(points)
                                                                     : qvpoints::WriteCsv(points));
    out.Field("file", file);
    out.Field("points", points.size());
    out.Line("Saved " + std::to_string(points.size()) + " user points to " + file);
}

void CmdPointsSet(Session& s, const std::string& file, const std::vector<UserPointEntry>& points,
                  Output& out) {
    // Words 2 and 5 of a point travel only from the device: a write carries 0 there.
    const auto carried = std::count_if(points.begin(), points.end(), [](const UserPointEntry& p) {
        return p.word2 != 0 || p.word5 != 0;
    });
    if (carried > 0) {
        std::fprintf(stderr,
                     "qvctl: warning: %ld points hold values in word2 or word5; a write sets both "
                     "to 0 on the device\n",
                     static_cast<long>(carried));
        out.Field("word2_word5_cleared", carried);
    }
    s.EnsureDownloadMode();
    DeleteAllUserDBs(s.port());
    for (const UserPointEntry& p : points) AddUserDB(s.port(), &p);
    out.Field("file", file);
    out.Field("points", points.size());
    s.MustRun("user point write", ReqSetUserDB);
    out.Line("Wrote " + std::to_string(points.size()) + " user points from " + file);
}

// batch and watch: the job from the step options in the order given, then the run.
int RunJobCommand(CLI::App* cmd, bool watch, const std::string& ports, const GlobalOptions& opts) {
    BatchOptions options;
    options.model = opts.model;
    options.find_model = opts.find_model;
    options.json = opts.json;
    options.timeout_s = opts.timeout_s;
    if (auto* report = cmd->get_option("--report"); report->count() > 0) {
        options.report_file = report->as<std::string>();
    }
    if (watch) {
        if (opts.find_model.empty()) throw Failure{kExitUsage, "watch needs --find MODEL"};
        if (!ports.empty()) throw Failure{kExitUsage, "watch takes --find MODEL, not --ports"};
    } else if (ports.empty() == opts.find_model.empty()) {
        throw Failure{kExitUsage, "batch needs --ports LIST or --find MODEL (one of them)"};
    } else if (!ports.empty()) {
        std::string error;
        const auto list = qvports::ParsePortList(ports, &error);
        if (!list) throw Failure{kExitUsage, "--ports: " + error};
        options.ports = *list;
    }
    std::map<const CLI::Option*, size_t> used;  // occurrences of each option taken so far
    for (const CLI::Option* option : cmd->parse_order()) {
        const std::string name = option->get_name();
        const auto values = option->results();
        const size_t index = used[option]++;
        if (name == "--download-mode") {
            options.job.push_back({BatchStep::kDownloadMode, "", ""});
        } else if (name == "--erase") {
            options.job.push_back({BatchStep::kErase, values.at(index), ""});
        } else if (name == "--write") {
            // The parse order names an option once for each value it took: twice a --write.
            if (index % 2 == 1) continue;
            const std::string area = values.at(index);
            const std::string file = values.at(index + 1);
            if (WriteRequests().count(area) == 0) {
                throw Failure{kExitUsage, "--write: no area " + area + " (fw, db, voc or boot)"};
            }
            if (access(file.c_str(), R_OK) != 0 || std::filesystem::is_directory(file)) {
                throw Failure{kExitUsage, "--write: " + file + " cannot be read"};
            }
            options.job.push_back(
                {BatchStep::kWrite, area, std::filesystem::absolute(file).string()});
        } else if (name == "--check-version") {
            options.job.push_back({BatchStep::kCheckVersion, "", ""});
        } else if (name == "--reset") {
            options.job.push_back({BatchStep::kReset, "", ""});
        }
    }
    return watch ? RunWatch(options) : RunBatch(options);
}

}  // namespace

int main(int argc, char** argv) {
    InstallStopHandlers();

    CLI::App app{"qvctl: drive Z31-family devices through QVLib"};
    app.footer(
        std::string("\nCommands that need download mode (info, erase, write, serial, qc, "
                    "settings, points) check the mode first and switch the device into download "
                    "mode unless it is there already.\n\n") +
        kExitCodeTable);
    app.require_subcommand(1);
    app.fallthrough();

    GlobalOptions opts;
    auto* port_opt =
        app.add_option("--port", opts.port, "COM port number (1-256)")->check(CLI::Range(1, 256));
    auto* find_opt = app.add_option("--find", opts.find_model,
                                    "search for a device of MODEL and use the first port found");
    port_opt->excludes(find_opt);
    find_opt->excludes(port_opt);
    auto* model_opt = app.add_option("--model", opts.model,
                                     "model to open the port as (default Z31STD; with --find the "
                                     "model searched for)");
    app.add_option("--port-dir", opts.port_dir,
                   "folder of comN links; sets QVLIB_PORT_DIR before anything else");
    app.add_flag("--json", opts.json, "one JSON object a line on standard output");
    app.add_option("--timeout", opts.timeout_s,
                   "overall time-out of the command in seconds (default 60, writes 600)")
        ->check(CLI::PositiveNumber);

    auto* ports_cmd = app.add_subcommand(
        "ports", "list the port numbering, the ports that exist and whether each is free");
    std::string find_model;
    auto* find_cmd = app.add_subcommand("find", "search every port for devices of MODEL");
    find_cmd->add_option("MODEL", find_model, "model name, e.g. Z31STD")->required();
    auto* info_cmd = app.add_subcommand(
        "info",
        "firmware, database and voice versions, device ID, serial number and the mode "
        "found (switches to download mode)");
    auto* mode_cmd = app.add_subcommand("mode", "check the device mode: normal, download or none");
    auto* dn_cmd = app.add_subcommand("download-mode", "switch the device into download mode");
    auto* reset_cmd =
        app.add_subcommand("reset", "send the device back to normal operation (NMEA stream)");

    std::string erase_area;
    auto* erase_cmd = app.add_subcommand("erase", "erase an area (switches to download mode)");
    erase_cmd->add_option("AREA", erase_area, "fw, db, voc, boot, all or serial")
        ->required()
        ->check(CLI::IsMember(Keys(EraseRequests())));

    std::string write_area, write_file;
    auto* write_cmd = app.add_subcommand(
        "write", "write an image file into an area (switches to download mode; shows progress)");
    write_cmd->add_option("AREA", write_area, "fw, db, voc or boot")
        ->required()
        ->check(CLI::IsMember(Keys(WriteRequests())));
    write_cmd->add_option("FILE", write_file, "the image file")
        ->required()
        ->check(CLI::ExistingFile);

    auto* serial_cmd =
        app.add_subcommand("serial", "read or store the serial number (switches to download mode)");
    serial_cmd->require_subcommand(1);
    std::string serial_text;
    auto* serial_set = serial_cmd->add_subcommand(
        "set", "store TEXT as the serial number (a stored one must be erased first)");
    serial_set->add_option("TEXT", serial_text, "the serial number")->required();
    auto* serial_get = serial_cmd->add_subcommand("get", "read the serial number");

    auto* qc_cmd = app.add_subcommand("qc", "quality control (switches to download mode)");
    qc_cmd->require_subcommand(1);
    auto* qc_view = qc_cmd->add_subcommand("view", "print the GPS test report");
    auto* qc_result = qc_cmd->add_subcommand("result", "read the verdict: pass, fail, not-done");

    auto* settings_cmd =
        app.add_subcommand("settings",
                           "read or change the user settings (switches to download "
                           "mode)");
    settings_cmd->require_subcommand(1);
    auto* settings_get = settings_cmd->add_subcommand("get", "read the settings");
    SettingsChange change;
    auto* settings_set = settings_cmd->add_subcommand(
        "set", "change the named settings; the others keep the device's values");
    for (int i = 0; i < 5; ++i) {
        settings_set
            ->add_option("--speed" + std::to_string(i + 1), change.speed[i],
                         "user speed " + std::to_string(i + 1) + " (-1: no value)")
            ->check(CLI::Range(-1, 65534));
    }
    settings_set->add_option("--warning", change.warning, "warning time in seconds")
        ->check(CLI::Range(0, 65534));
    settings_set->add_option("--unit", change.unit, "speed unit: 0 km/h, 1 mph")
        ->check(CLI::Range(0, 1));
    settings_set->add_option("--gmt", change.gmt, "time zone offset in minutes")
        ->check(CLI::Range(-1440, 1440));
    settings_set->add_option("--summer", change.summer, "summer time: 0 off, 1 on")
        ->check(CLI::Range(0, 1));
    std::optional<int> clock_hours;
    settings_set->add_option("--clock", clock_hours, "clock: 12 or 24 hours")
        ->check(CLI::IsMember({12, 24}));

    auto* points_cmd = app.add_subcommand(
        "points",
        "back up or restore the user points as GPX or CSV, by the file's extension (switches to "
        "download mode)");
    points_cmd->require_subcommand(1);
    std::string points_file;
    const auto points_name = CLI::Validator(
        [](std::string& name) {
            return qvpoints::PointsFormatOf(name)
                       ? std::string()
                       : std::string("the file name must end in .gpx or .csv");
        },
        "*.gpx|*.csv");
    auto* points_get = points_cmd->add_subcommand(
        "get", "save the device's user points to FILE (replaced whole, or left as it was)");
    points_get->add_option("FILE", points_file, "GPX 1.1 or CSV file")
        ->required()
        ->check(points_name);
    auto* points_set = points_cmd->add_subcommand(
        "set",
        "replace the device's user points with those of FILE; a faulty file is refused with its "
        "line and reason, and nothing is changed then");
    points_set->add_option("FILE", points_file, "GPX 1.1 or CSV file")
        ->required()
        ->check(CLI::ExistingFile & points_name);

    // A job for many devices: the steps in the order given, after each device is identified.
    std::string batch_ports;
    auto add_steps = [&](CLI::App* cmd) {
        cmd->add_flag("--download-mode")->description("put the device into download mode");
        cmd->add_option("--erase", "erase an area: fw, db, voc, boot, all or serial")
            ->check(CLI::IsMember(Keys(EraseRequests())))
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_size(1);
        cmd->add_option("--write", "write an image: AREA FILE (AREA fw, db, voc or boot)")
            ->type_size(2)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        cmd->add_flag("--check-version")
            ->description("read the versions again (the report's \"after\")");
        cmd->add_flag("--reset")->description("send the device back to normal operation");
        cmd->add_option("--report", "also write the end report to FILE, as JSON");
    };
    auto* batch_cmd = app.add_subcommand(
        "batch",
        "run one job on many devices at once (--ports LIST or --find MODEL): each device is "
        "identified (download mode, device ID, serial number, versions), then runs the steps in "
        "the order given; one device's failure never stops the others. Exit code 0 only when "
        "every device succeeded");
    batch_cmd->add_option("--ports", batch_ports, "ports to run on, e.g. 3,5-8");
    add_steps(batch_cmd);
    auto* watch_cmd = app.add_subcommand(
        "watch",
        "wait for devices of the --find MODEL to appear and run the job on each new one once "
        "(a device serviced before, known by its serial number, is skipped); Ctrl-C ends it");
    add_steps(watch_cmd);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    SeparateLibraryOutput();
    if (clock_hours) change.clock = *clock_hours == 24 ? 1 : 0;

    if (!opts.port_dir.empty()) setenv("QVLIB_PORT_DIR", opts.port_dir.c_str(), 1);
    opts.model_given = model_opt->count() > 0;
    if (!opts.find_model.empty() && !opts.model_given) opts.model = opts.find_model;

    Output out(opts.json);
    CLI::App* command = app.get_subcommands().front();
    std::string name = command->get_name();
    for (CLI::App* sub = command; !sub->get_subcommands().empty();) {
        sub = sub->get_subcommands().front();
        name += " " + sub->get_name();
    }
    out.SetCommand(name);
    const double timeout_s = opts.timeout_s > 0
                                 ? opts.timeout_s
                                 : (command == write_cmd ? kWriteTimeoutS : kDefaultTimeoutS);
    try {
        if (command == ports_cmd) return CmdPorts(opts, out);
        if (command == find_cmd) return CmdFind(find_model, timeout_s, out);
        if (command == batch_cmd || command == watch_cmd) {
            return RunJobCommand(command, command == watch_cmd, batch_ports, opts);
        }

        if (opts.port == 0 && opts.find_model.empty()) {
            std::fprintf(stderr, "qvctl: %s needs --port N or --find MODEL\n", name.c_str());
            return kExitUsage;
        }
        // A points file is read and checked before any port is touched.
        std::vector<UserPointEntry> new_points;
        if (points_set->parsed()) new_points = LoadPointsFile(points_file);
        int port = opts.port;
        if (port == 0) {
            const auto found = FindDevices(opts.find_model, timeout_s, opts.json);
            if (found.empty()) {
                throw Failure{kExitNoDevice, "no " + opts.find_model + " device found"};
            }
            port = found.front();
        }
        out.SetPort(port);
        Session session(opts.model, port, timeout_s);
        if (command == info_cmd) {
            CmdInfo(session, out);
        } else if (command == mode_cmd) {
            CmdMode(session, out);
        } else if (command == dn_cmd) {
            session.MustRun("switch to download mode", ReqSetDeviceDNMode);
            out.Line("Download mode");
        } else if (command == reset_cmd) {
            session.MustRun("reset", ReqResetDevice);
            out.Line("Normal operation");
        } else if (command == erase_cmd) {
            CmdErase(session, erase_area, out);
        } else if (command == write_cmd) {
            CmdWrite(session, write_area, write_file, out);
        } else if (serial_set->parsed()) {
            CmdSerialSet(session, serial_text, out);
        } else if (serial_get->parsed()) {
            CmdSerialGet(session, out);
        } else if (qc_view->parsed()) {
            CmdQcView(session, out);
        } else if (qc_result->parsed()) {
            CmdQcResult(session, out);
        } else if (settings_get->parsed()) {
            CmdSettingsGet(session, out);
        } else if (settings_set->parsed()) {
            CmdSettingsSet(session, change, out);
        } else if (points_get->parsed()) {
            CmdPointsGet(session, points_file, out);
        } else if (points_set->parsed()) {
            CmdPointsSet(session, points_file, new_points, out);
        }
    } catch (const Failure& f) {
        if (f.code == kExitInterrupted && FindDeviceState() == 1) {
            // The search has no cancel; its thread must not hold up the exit.
            out.Finish(f.code, f.message);
            std::fflush(nullptr);
            _exit(f.code);
        }
        return out.Finish(f.code, f.message);
    }
    return out.Finish(kExitOk);
}
