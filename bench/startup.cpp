// DevodTool from its start to its main window shown, on Qt's offscreen platform: the wall time
// from the fork to the program's "window shown" line (DEVOD_EXIT_WHEN_SHOWN makes it print that
// line and end), median of several starts, and the peak resident size of the process (its
// getrusage maximum), the largest of the starts. Goals: under 100 ms and under 48 MB.
//
// usage: bench_startup [starts]
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/result.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Start {
    double ms = -1;     // until "window shown" was read
    long peak_kb = -1;  // ru_maxrss of the child
};

Start RunOnce(const std::string& home) {
    Start result;
    int out[2];
    if (pipe(out) != 0) return result;
    const Clock::time_point began = Clock::now();
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("DEVOD_EXIT_WHEN_SHOWN", "1", 1);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        execl(DEVODTOOL_PATH, DEVODTOOL_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
        if (text.find("window shown") != std::string::npos) {
            result.ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
            break;
        }
    }
    while (read(out[0], buffer, sizeof buffer) > 0) {
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.ms = -1;
        return result;
    }
    result.peak_kb = usage.ru_maxrss;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    char dir[] = "/tmp/bench-startup-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    RunOnce(dir);  // the first start fills the caches of the libraries it loads; not counted
    std::vector<double> times;
    long peak_kb = 0;
    for (int i = 0; i < starts; ++i) {
        Start s = RunOnce(dir);
        if (s.ms < 0) {
            std::fprintf(stderr, "start %d: DevodTool did not show its window and end cleanly\n",
                         i);
            std::filesystem::remove_all(dir);
            bench::Result("devodtool start to window shown", "< 100 ms", false, "did not start");
            return 1;
        }
        times.push_back(s.ms);
        peak_kb = std::max(peak_kb, s.peak_kb);
    }
    std::filesystem::remove_all(dir);
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double peak_mb = peak_kb / 1024.0;
    std::printf(
        "DevodTool start to window shown (offscreen): median %.1f ms, fastest %.1f ms, "
        "slowest %.1f ms over %d starts; peak resident size %.1f MB\n",
        median, times.front(), times.back(), starts, peak_mb);
    bench::Result("devodtool start to window shown", "< 100 ms", median < 100, "%.1f ms", median);
    bench::Result("devodtool peak memory at start", "< 48 MB", peak_mb < 48, "%.1f MB", peak_mb);
    return median < 100 && peak_mb < 48 ? 0 : 1;
}
