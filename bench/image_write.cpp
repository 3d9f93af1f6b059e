// A 1 MiB image write at 115200 baud on the simulator, which takes the bytes in at the line speed
// (run as its own process, so that this process's CPU time is the host's alone). Reports:
// - throughput against the best the protocol allows: each 4096-byte block costs 4096 x 10 bits
//   on the wire, then the host's 100 ms read (goal: at least 0.95), measured from the end of the
//   first block to the end of the last, by the progress position;
// - the host's CPU time during the write divided by its wall time (goal: under 0.02).
//
// usage: bench_image_write [KiB]
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "bench/result.h"
#include "qvlib/session/qvlib.h"
#include "sim/z31sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The simulator in a child process; stopped with the object.
class SimProcess {
public:
    explicit SimProcess(const std::string& dir) {
        pid_ = fork();
        if (pid_ == 0) {
            execl(Z31SIM_PATH, "z31sim", "--port-dir", dir.c_str(), "--port", "1", "--nmea-baud",
                  "115200", "--command-baud", "115200", "--mode", "download", "--pacing", "on",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    const int kib = argc > 1 ? std::max(8, std::atoi(argv[1])) : 1024;
    const uint32_t size = static_cast<uint32_t>(kib) * 1024;
    const uint32_t blocks = (size + 4095) / 4096;
    z31sim::PortDir dir;
    setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
    std::string image_path = dir.path() + "/image.bin";
    {
        std::string bytes(size, '\0');
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 4096));
        std::ofstream(image_path, std::ios::binary) << bytes;
    }
    SimProcess sim(dir.path());
    struct stat info {};
    for (int i = 0; i < 500 && stat((dir.path() + "/com1").c_str(), &info) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!sim.Started() || OpenDevice("Z40PRO", 1) != 1) {
        std::fprintf(stderr, "cannot start or open the simulated device\n");
        return 1;
    }

    double cpu_start = CpuSeconds();
    Clock::time_point start = Clock::now(), first_block{}, last_block{};
    if (ReqWriteDB(1, image_path.c_str()) != 1) return 1;
    while (GetQueryState(1) != 2) {
        uint32_t pos = static_cast<uint32_t>(GetQueryProgressPos(1));
        if (first_block == Clock::time_point{} && pos >= 4096) first_block = Clock::now();
        if (last_block == Clock::time_point{} && pos >= size) last_block = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Clock::time_point end = Clock::now();
    double cpu = CpuSeconds() - cpu_start;
    int result = GetQueryResult(1);
    CloseDevice(1);
    unlink(image_path.c_str());
    if (result != 1 || first_block == Clock::time_point{} || last_block == Clock::time_point{}) {
        std::fprintf(stderr, "the write failed (result %d)\n", result);
        return 1;
    }

    const double per_block = 4096.0 * 10.0 / 115200.0 + 0.1;
    double best = (blocks - 1) * per_block;
    double measured = Seconds(last_block - first_block);
    double throughput = best / measured;
    double wall = Seconds(end - start);
    double cpu_share = cpu / wall;
    std::printf(
        "image write of %u bytes at 115200 baud: %.2f s in all, blocks 2-%u in %.2f s "
        "(best %.2f s)\n",
        size, wall, blocks, measured, best);
    std::printf("throughput vs the protocol's best: %.3f (goal >= 0.95): %s\n", throughput,
                throughput >= 0.95 ? "met" : "NOT met");
    // The host's write returns once the block is in the terminal's buffer, so the 100 ms read
    // overlaps the block's time on the wire; the share of the line's rate shows how close the
    // stream comes to the wire alone.
    double wire = (blocks - 1) * 4096.0 * 10.0 / 115200.0;
    std::printf("share of the line rate: %.3f\n", wire / measured);
    std::printf("host CPU time / wall time: %.4f (goal < 0.02): %s\n", cpu_share,
                cpu_share < 0.02 ? "met" : "NOT met");
    bench::Result("serial image write vs protocol", ">= 0.95", throughput >= 0.95, "%.3f",
                  throughput);
    bench::Result("serial image write: CPU / wall", "< 0.02", cpu_share < 0.02, "%.4f", cpu_share);
    return throughput >= 0.95 && cpu_share < 0.02 ? 0 : 1;
}
