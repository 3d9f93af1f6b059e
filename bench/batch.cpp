// Sixteen devices written at once by qvctl batch at 115200 baud, on the simulator that takes the
// bytes in at the line speed (its own process, z31sim --ports), against one device written
// alone, in one run. Reports:
// - aggregate throughput of the sixteen (all bytes, from the first write's start to the last
//   write's end) divided by sixteen times the throughput of the one (goal: at least 0.95);
// - qvctl's CPU time over the sixteen's run divided by its wall time (goal: under 0.05).
// The times are those at which qvctl's JSON events arrive here.
//
// usage: bench_batch [KiB]   (256 KiB by default: about 30 s a write)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/result.h"
#include "sim/z31sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// z31sim with one paced device a port, stopped with the object.
class SimProcess {
public:
    SimProcess(const std::string& dir, const std::string& ports) {
        pid_ = fork();
        if (pid_ == 0) {
            const int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, STDIN_FILENO);
            dup2(null_fd, STDOUT_FILENO);
            execl(Z31SIM_PATH, "z31sim", "--port-dir", dir.c_str(), "--ports", ports.c_str(),
                  "--nmea-baud", "115200", "--command-baud", "115200", "--id", "Z40P012", "--mode",
                  "download", "--pacing", "on", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

struct Run {
    bool ok = false;
    double wall = 0;  // qvctl's run
    double cpu = 0;   // qvctl's user and system time
    std::map<int, Clock::time_point> write_start, write_end;
    int64_t bytes = 0;
};

// qvctl batch --json on the ports, its events timed as they arrive.
Run RunBatch(const std::string& dir, const std::string& ports, const std::string& image) {
    Run run;
    int out[2];
    if (pipe(out) != 0) return run;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, STDERR_FILENO);
        close(out[0]);
        execl(QVCTL_PATH, "qvctl", "--port-dir", dir.c_str(), "--model", "Z40PRO", "--json",
              "batch", "--ports", ports.c_str(), "--write", "db", image.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* events = fdopen(out[0], "r");
    char* line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, events) > 0) {
        const auto now = Clock::now();
        const json e = json::parse(line, nullptr, false);
        if (e.is_discarded() || !e.contains("event")) continue;
        if (e["event"] == "step" && e["step"] == "write db") {
            const int port = e["port"];
            if (e["state"] == "start") run.write_start[port] = now;
            if (e["state"] == "ok") run.write_end[port] = now;
        }
        if (e["event"] == "device") run.bytes += e["bytes"].get<int64_t>();
        if (e["event"] == "result") run.ok = e["ok"];
    }
    std::free(line);
    std::fclose(events);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wall = Seconds(Clock::now() - start);
    run.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = run.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const long kib = argc > 1 ? std::atol(argv[1]) : 256;
    z31sim::PortDir dir;
    const std::string image = dir.path() + "/db.img";
    {
        std::string bytes(static_cast<size_t>(kib) * 1024, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 7);
        std::ofstream(image, std::ios::binary) << bytes;
    }
    SimProcess sim(dir.path(), "3-18");
    for (int waited = 0; waited < 100 && access((dir.path() + "/com18").c_str(), F_OK) != 0;
         ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const Run one = RunBatch(dir.path(), "3", image);
    const Run all = RunBatch(dir.path(), "3-18", image);
    if (!one.ok || !all.ok || one.write_end.size() != 1 || all.write_end.size() != 16) {
        std::fprintf(stderr, "bench_batch: a write failed (one: %zu ended, sixteen: %zu ended)\n",
                     one.write_end.size(), all.write_end.size());
        return 1;
    }
    const double bytes_one = static_cast<double>(one.bytes);
    const double single = bytes_one / Seconds(one.write_end.at(3) - one.write_start.at(3));
    Clock::time_point first = all.write_start.begin()->second, last = all.write_end.begin()->second;
    for (const auto& [port, t] : all.write_start) first = std::min(first, t);
    for (const auto& [port, t] : all.write_end) last = std::max(last, t);
    const double aggregate = static_cast<double>(all.bytes) / Seconds(last - first);
    const double ratio = aggregate / (16 * single);
    const double cpu = all.cpu / all.wall;

    std::printf("image: %ld KiB a device\n", kib);
    std::printf("one device alone:   %.0f B/s\n", single);
    std::printf(
        "sixteen at once:    %.0f B/s in all (%.1f s from the first start to the last end)\n",
        aggregate, Seconds(last - first));
    std::printf("qvctl over the sixteen: %.2f s CPU in %.1f s\n", all.cpu, all.wall);
    bench::Result("batch: 16 devices at once / 16 x one alone", ">= 0.95", ratio >= 0.95, "%.3f",
                  ratio);
    bench::Result("batch: qvctl CPU / wall, 16 devices", "< 0.05", cpu < 0.05, "%.4f", cpu);
    return 0;
}
