// What the command line costs on top of the library, against one simulator process at 115200 baud
// that takes the bytes in at the line speed:
// - `qvctl info`: the process's wall time (start, loading, argument parsing, polling, exit) minus
//   the time the same requests take through the library in this process (open, mode check, the
//   five queries, close), which is the protocol's fixed pauses plus the device's replies; the
//   median of several runs of each (goal: under 20 ms);
// - `qvctl write db` of 1 MiB: its throughput against the protocol's best, measured by its JSON
//   progress events as bench_image_write measures the library by the progress position, and that
//   same library figure in the same run (goal: within 1% of it).
//
// usage: bench_qvctl [info-runs] [KiB]
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/result.h"
#include "qvlib/session/qvlib.h"
#include "sim/z31sim.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 1;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

pid_t Spawn(const std::vector<std::string>& args, int stdout_fd) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (stdout_fd >= 0) dup2(stdout_fd, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs one request to its end, spinning on the state so that the measurement adds no polling
// delay of its own.
bool RunRequest(const std::function<int(int)>& request) {
    if (request(kPort) != 1) return false;
    while (GetQueryState(kPort) != 2) std::this_thread::yield();
    return GetQueryResult(kPort) == 1;
}

// What `qvctl info` asks of a device already in download mode, through the library.
bool LibraryInfo() {
    if (OpenDevice("Z40PRO", kPort) != 1) return false;
    bool ok = RunRequest(ReqGetDeviceMode) && GetDeviceModeResult(kPort) == 2;
    for (auto request :
         {ReqGetFWVersion, ReqGetDBVersion, ReqGetVOCVersion, ReqGetDeviceID, ReqGetSerialNumber}) {
        ok = ok && RunRequest(request);
    }
    CloseDevice(kPort);
    return ok;
}

std::vector<std::string> QvctlArgs(const std::string& dir, std::vector<std::string> rest) {
    std::vector<std::string> args = {QVCTL_PATH, "--port-dir", dir, "--port", std::to_string(kPort),
                                     "--model",  "Z40PRO"};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

// The protocol's best for blocks 2 to n and the measured time for them: the same figure as
// bench_image_write.
double Throughput(uint32_t size, double measured_s) {
    const uint32_t blocks = (size + 4095) / 4096;
    const double per_block = 4096.0 * 10.0 / 115200.0 + 0.1;
    return (blocks - 1) * per_block / measured_s;
}

// The library's own write, timed by the progress position.
double LibraryWrite(const std::string& image, uint32_t size) {
    if (OpenDevice("Z40PRO", kPort) != 1) return 0;
    Clock::time_point first{}, last{};
    if (ReqWriteDB(kPort, image.c_str()) != 1) return 0;
    while (GetQueryState(kPort) != 2) {
        const auto pos = static_cast<uint32_t>(GetQueryProgressPos(kPort));
        if (first == Clock::time_point{} && pos >= 4096) first = Clock::now();
        if (last == Clock::time_point{} && pos >= size) last = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int result = GetQueryResult(kPort);
    CloseDevice(kPort);
    if (result != 1 || first == Clock::time_point{} || last == Clock::time_point{}) return 0;
    return Throughput(size, Seconds(last - first));
}

// qvctl's write, timed by the arrival of its JSON progress events.
double QvctlWrite(const std::string& dir, const std::string& image, uint32_t size) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return 0;
    const pid_t pid = Spawn(QvctlArgs(dir, {"--json", "write", "db", image}), pipe_fds[1]);
    close(pipe_fds[1]);
    FILE* events = fdopen(pipe_fds[0], "r");
    Clock::time_point first{}, last{};
    char line[512];
    while (std::fgets(line, sizeof line, events) != nullptr) {
        const char* done = std::strstr(line, "\"done\":");
        if (done == nullptr) continue;
        const long bytes = std::strtol(done + 7, nullptr, 10);
        if (first == Clock::time_point{} && bytes >= 4096) first = Clock::now();
        if (last == Clock::time_point{} && bytes >= static_cast<long>(size)) last = Clock::now();
    }
    std::fclose(events);
    if (Reap(pid) != 0 || first == Clock::time_point{} || last == Clock::time_point{}) return 0;
    return Throughput(size, Seconds(last - first));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
    const int kib = argc > 2 ? std::max(8, std::atoi(argv[2])) : 1024;
    const uint32_t size = static_cast<uint32_t>(kib) * 1024;
    z31sim::PortDir dir;
    setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
    const pid_t sim =
        Spawn({Z31SIM_PATH, "--port-dir", dir.path(), "--port", "1", "--nmea-baud", "115200",
               "--command-baud", "115200", "--mode", "download", "--pacing", "on"},
              -1);
    struct stat info {};
    for (int i = 0; i < 500 && stat((dir.path() + "/com1").c_str(), &info) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto stop_sim = [&] {
        kill(sim, SIGTERM);
        Reap(sim);
    };

    std::vector<double> library_s, qvctl_s;
    const int null_fd = open("/dev/null", O_WRONLY);
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        if (!LibraryInfo()) {
            std::fprintf(stderr, "the library's info requests failed\n");
            stop_sim();
            return 1;
        }
        library_s.push_back(Seconds(Clock::now() - start));
        start = Clock::now();
        if (Reap(Spawn(QvctlArgs(dir.path(), {"info"}), null_fd)) != 0) {
            std::fprintf(stderr, "qvctl info failed\n");
            stop_sim();
            return 1;
        }
        qvctl_s.push_back(Seconds(Clock::now() - start));
    }
    close(null_fd);
    const double library = Median(library_s), qvctl = Median(qvctl_s);
    const double overhead_ms = (qvctl - library) * 1000;
    std::printf(
        "qvctl info: %.1f ms, the same requests through the library %.1f ms (median of %d): "
        "%.1f ms beyond the protocol (goal < 20 ms): %s\n",
        qvctl * 1000, library * 1000, runs, overhead_ms, overhead_ms < 20 ? "met" : "NOT met");

    const std::string image = dir.path() + "/image.bin";
    {
        std::string bytes(size, '\0');
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 4096));
        std::ofstream(image, std::ios::binary) << bytes;
    }
    const double library_ratio = LibraryWrite(image, size);
    const double qvctl_ratio = QvctlWrite(dir.path(), image, size);
    stop_sim();
    unlink(image.c_str());
    if (library_ratio <= 0 || qvctl_ratio <= 0) {
        std::fprintf(stderr, "a write failed (library %.3f, qvctl %.3f)\n", library_ratio,
                     qvctl_ratio);
        bench::Result("qvctl info beyond the protocol", "< 20 ms", overhead_ms < 20, "%.1f ms",
                      overhead_ms);
        bench::Result("qvctl write db vs the library", "within 1%", false, "write failed");
        return 1;
    }
    const double gap = std::abs(qvctl_ratio / library_ratio - 1);
    std::printf(
        "write db of %u bytes vs the protocol's best: qvctl %.3f, library %.3f: %.2f%% apart "
        "(goal within 1%%): %s\n",
        size, qvctl_ratio, library_ratio, gap * 100, gap <= 0.01 ? "met" : "NOT met");
    bench::Result("qvctl info beyond the protocol", "< 20 ms", overhead_ms < 20, "%.1f ms",
                  overhead_ms);
    bench::Result("qvctl write db vs the library", "within 1%", gap <= 0.01, "%.2f%%", gap * 100);
    return overhead_ms < 20 && gap <= 0.01 ? 0 : 1;
}
