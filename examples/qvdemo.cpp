// qvdemo: a small host of QVLib. It starts the Z31 simulator on a port of a temporary port folder,
// opens that port through the library's exports, reads the device's firmware, database and voice
// versions, device ID and serial number, and stops the simulator again.
//
// usage: qvdemo [path of the z31sim program]   (default: z31sim beside this program)
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "qvlib/session/qvlib.h"

extern char** environ;

namespace {

constexpr int kPort = 3;
constexpr char kModel[] = "Z40PRO";  // a model whose NMEA and command rates are both 115200

// The simulator as a child process, stopped when this object goes.
class Simulator {
public:
    Simulator(const std::string& program, const std::string& port_dir) {
        std::string port = std::to_string(kPort);
        const char* argv[] = {program.c_str(), "--port-dir",     port_dir.c_str(), "--port",
                              port.c_str(),    "--mode",         "download",       "--nmea-baud",
                              "115200",        "--command-baud", "115200",         "--id",
                              "Z40P012",       nullptr};
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, const_cast<char**>(argv),
                        environ) != 0) {
            pid_ = -1;
        }
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

bool WaitFor(const std::filesystem::path& link) {
    for (int i = 0; i < 500; ++i) {
        if (std::filesystem::exists(link)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Runs one query to its end; the value or the failure as text.
std::string Query(int (*request)(int)) {
    if (request(kPort) != 1) return "(request refused)";
    for (int i = 0; i < 1000 && GetQueryState(kPort) != 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (GetQueryState(kPort) != 2) return "(no end)";
    if (GetQueryResult(kPort) != 1) return "(failed)";
    return GetVersionResult(kPort);
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    std::string program = argc > 1 ? argv[1] : (self.parent_path() / "z31sim").string();
    if (!std::filesystem::exists(program)) {
        program = (self.parent_path().parent_path() / "sim" / "z31sim").string();
    }
    char dir_template[] = "/tmp/qvdemo-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) {
        std::perror("qvdemo: temporary port folder");
        return 1;
    }
    std::string port_dir = dir_template;
    setenv("QVLIB_PORT_DIR", port_dir.c_str(), 1);

    int failures = 0;
    {
        Simulator sim(program, port_dir);
        if (!sim.Started() || !WaitFor(port_dir + "/com" + std::to_string(kPort))) {
            std::fprintf(stderr, "qvdemo: cannot start the simulator %s\n", program.c_str());
            std::filesystem::remove_all(port_dir);
            return 1;
        }
        if (OpenDevice(kModel, kPort) != 1) {
            std::fprintf(stderr, "qvdemo: cannot open COM%d\n", kPort);
            std::filesystem::remove_all(port_dir);
            return 1;
        }
        std::printf("Device %s on COM%d (%s/com%d)\n", kModel, kPort, port_dir.c_str(), kPort);
        struct {
            const char* label;
            int (*request)(int);
        } queries[] = {{"Firmware version", ReqGetFWVersion},
                       {"Database version", ReqGetDBVersion},
                       {"Voice version", ReqGetVOCVersion},
                       {"Device ID", ReqGetDeviceID},
                       {"Serial number", ReqGetSerialNumber}};
        for (const auto& q : queries) {
            std::string value = Query(q.request);
            if (GetQueryResult(kPort) != 1) ++failures;
            std::printf("%-17s %s\n", q.label, value.c_str());
            std::fflush(stdout);
        }
        CloseDevice(kPort);
    }
    std::filesystem::remove_all(port_dir);
    return failures == 0 ? 0 : 1;
}
