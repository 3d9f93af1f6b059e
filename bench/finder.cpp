// The finder probes every port in parallel, so a search over 64 ports should take about as long
// as one over a single port. This reports the ratio of the two wall times (goal: at most 1.2).
//
// usage: bench_finder [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/result.h"
#include "qvlib/session/qvlib.h"
#include "sim/z31sim.h"

namespace {

struct Bench {
    z31sim::PortDir dir;
    std::vector<std::unique_ptr<z31sim::Device>> devices;

    explicit Bench(int ports) {
        for (int port = 1; port <= ports; ++port) {
            z31sim::DeviceConfig config;
            config.port_number = port;
            config.nmea_baud = 115200;
            config.command_baud = 115200;
            config.start_mode = z31sim::Mode::Normal;
            config.nmea_period_ms = 200;
            config.device_id = "Z40P012";
            devices.push_back(std::make_unique<z31sim::Device>(dir.path(), config));
        }
    }
    // Wall time of one search in ms, or a negative value when it did not find every device.
    double Search() {
        setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
        auto start = std::chrono::steady_clock::now();
        if (ReqFindDevice("Z40PRO") != 1) return -1;
        while (FindDeviceState() != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        return GetFoundDeviceCount() == static_cast<int>(devices.size()) ? ms : -1;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    Bench one(1);
    Bench many(64);
    std::vector<double> one_ms, many_ms;
    for (int round = 0; round < rounds; ++round) {
        double a = one.Search();
        double b = many.Search();
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "round %d: a search did not find every device\n", round);
            return 1;
        }
        one_ms.push_back(a);
        many_ms.push_back(b);
    }
    double ratio = Median(many_ms) / Median(one_ms);
    std::printf(
        "finder: 1 port %.0f ms, 64 ports %.0f ms (medians of %d rounds); ratio %.3f "
        "(goal <= 1.2): %s\n",
        Median(one_ms), Median(many_ms), rounds, ratio, ratio <= 1.2 ? "met" : "NOT met");
    bench::Result("finder: 64 ports / 1 port", "<= 1.2", ratio <= 1.2, "%.3f", ratio);
    return ratio <= 1.2 ? 0 : 1;
}
