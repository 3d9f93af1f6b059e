#include "session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qvctl {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "the stop flag is stored by a signal handler");
FILE* g_out = stdout;

std::string ModeName(int mode) {
    switch (mode) {
        case 1: return "normal";
        case 2: return "download";
        default: return "none";
    }
}

std::vector<int> FindDevices(const std::string& model, double timeout_s, bool json_out) {
    if (ReqFindDevice(model.c_str()) != 1) {
        throw Failure{kExitNoDevice,
                      "no search started for " + model + " (unknown model or no port to probe)"};
    }
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeout_s));
    qvctl::ProgressReporter progress("find", json_out, g_out, isatty(STDERR_FILENO) == 1);
    while (FindDeviceState() != 2) {
        if (g_stop) throw Failure{kExitInterrupted, "interrupted during the search"};
        if (Clock::now() > deadline) throw Failure{kExitTimeout, "time-out during the search"};
        progress.Spin("searching for " + model);
        std::this_thread::sleep_for(kPollInterval);
    }
    std::vector<int> found;
    const int count = GetFoundDeviceCount();
    for (int i = 0; i < count; ++i) found.push_back(GetFoundDevicePort(i));
    return found;
}

const std::map<std::string, int (*)(int)>& EraseRequests() {
    static const std::map<std::string, int (*)(int)> requests = {
        {"fw", ReqEraseFW},           {"db", ReqEraseDB},   {"voc", ReqEraseVOC},
        {"boot", ReqEraseBootloader}, {"all", ReqEraseAll}, {"serial", ReqEraseSerialNumber}};
    return requests;
}

const std::map<std::string, int (*)(int, const char*)>& WriteRequests() {
    static const std::map<std::string, int (*)(int, const char*)> requests = {
        {"fw", ReqWriteFW}, {"db", ReqWriteDB}, {"voc", ReqWriteVOC}, {"boot", ReqWriteBootloader}};
    return requests;
}

void SaveFileAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            throw Failure{kExitUsage, path + ": cannot be written"};
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        throw Failure{kExitUsage, path + ": cannot be written (" + ec.message() + ")"};
    }
}

std::string VersionQuery(Session& s, const std::string& what, int (*request)(int)) {
    s.MustRun(what, request);
    const char* text = GetVersionResult(s.port());
    return text != nullptr ? text : "";
}

std::string PortPath(int port) {
    const char* port_dir = std::getenv("QVLIB_PORT_DIR");
    if (port_dir != nullptr && *port_dir != '\0') {
        return std::string(port_dir) + "/com" + std::to_string(port);
    }
    static const char* const kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
    if (port < 1 || port > 96) return {};
    return kFamilies[(port - 1) / 32] + std::to_string((port - 1) % 32);
}

}  // namespace qvctl
