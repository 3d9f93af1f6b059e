// A user point read of 300 records and a settings read on the simulator: what each costs beyond
// the fixed pauses (200 ms) and, for the user points, the one-second timed collection (goal: under
// 20 ms each). The line runs at 230400 baud, where 300 records (some 19 KB) cross the wire within
// the collection's second, so that what is measured is the host's own cost and not the line's.
//
// usage: bench_settings_read [rounds]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "bench/result.h"
#include "qvlib/session/qvlib.h"
#include "sim/z31sim.h"

namespace {

constexpr int kPort = 5;

// Milliseconds from the request to the done state, or a negative value on failure.
double Timed(int (*request)(int)) {
    const auto start = std::chrono::steady_clock::now();
    if (request(kPort) != 1) return -1;
    // Spin on the state so that the measurement adds no polling delay of its own.
    while (GetQueryState(kPort) != 2) std::this_thread::yield();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return GetQueryResult(kPort) == 1 ? ms : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    z31sim::PortDir dir;
    setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
    // The model table is read from the current directory: one model at 230400 baud.
    if (chdir(dir.path().c_str()) != 0) return 1;
    std::ofstream("model.txt") << "Z31FAST,Z31S006,230400,230400\r\n";
    z31sim::DeviceConfig config;
    config.port_number = kPort;
    config.nmea_baud = 230400;
    config.command_baud = 230400;
    config.start_mode = z31sim::Mode::Download;
    config.user_points = z31sim::SampleUserPoints(300);
    z31sim::Device device(dir.path(), config);
    if (OpenDevice("Z31FAST", kPort) != 1) {
        std::fprintf(stderr, "cannot open the simulated device\n");
        return 1;
    }
    std::vector<double> points, settings;
    for (int i = 0; i < rounds; ++i) {
        const double p = Timed(ReqGetUserDB);
        const double s = Timed(ReqGetUserSetting);
        if (p < 0 || s < 0 || GetUserDBCount(kPort) != 300) {
            std::fprintf(stderr, "round %d failed\n", i);
            return 1;
        }
        points.push_back(p - 200.0 - 1000.0);
        settings.push_back(s - 200.0);
    }
    CloseDevice(kPort);
    const double p = Median(points), s = Median(settings);
    std::printf(
        "user point read of 300 records beyond its pauses and collection: median %.2f ms, "
        "worst %.2f ms\n",
        p, *std::max_element(points.begin(), points.end()));
    std::printf("settings read beyond its pauses: median %.2f ms, worst %.2f ms\n", s,
                *std::max_element(settings.begin(), settings.end()));
    const bool met = p < 20.0 && s < 20.0;
    std::printf("over %d rounds (goal < 20 ms each): %s\n", rounds, met ? "met" : "NOT met");
    bench::Result("user point read beyond pauses", "< 20 ms", p < 20.0, "%.2f ms", p);
    bench::Result("settings read beyond pauses", "< 20 ms", s < 20.0, "%.2f ms", s);
    return met ? 0 : 1;
}
