// An idle open session costs no CPU: 32 sessions stay open for 10 s on quiet lines and the process
// CPU time over that span is reported (goal: under 10 ms in all).
//
// usage: bench_idle_sessions [seconds]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/result.h"
#include "qvlib/serial/tests/pty_line.h"
#include "qvlib/session/qvlib.h"

namespace {

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](timeval t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    constexpr int kSessions = 32;
    // One port folder for all lines: each PtyLine makes its own folder, so link them into the first.
    std::vector<std::unique_ptr<PtyLine>> lines;
    for (int port = 1; port <= kSessions; ++port) lines.push_back(std::make_unique<PtyLine>(port));
    char dir[] = "/tmp/qvbench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    for (auto& line : lines) {
        std::filesystem::create_symlink(std::filesystem::read_symlink(line->path()),
                                        std::string(dir) + "/com" + std::to_string(line->port()));
    }
    setenv("QVLIB_PORT_DIR", dir, 1);
    for (int port = 1; port <= kSessions; ++port) {
        if (OpenDevice("Z31STD", port) != 1) {
            std::fprintf(stderr, "cannot open COM%d\n", port);
            return 1;
        }
    }
    double before = CpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double used = CpuMs() - before;
    for (int port = 1; port <= kSessions; ++port) CloseDevice(port);
    std::filesystem::remove_all(dir);
    std::printf("idle sessions: %d open for %d s used %.2f ms CPU in all (goal < 10 ms): %s\n",
                kSessions, seconds, used, used < 10.0 ? "met" : "NOT met");
    bench::Result("idle sessions: CPU of 32 for 10 s", "< 10 ms", used < 10.0, "%.2f ms", used);
    return used < 10.0 ? 0 : 1;
}
