// The library's finder run again and again while simulated devices come and go in the port
// folder, one of them unplugged and another plugged in during each search: every search ends,
// finds every matching device that stayed for the whole search and nothing that was never there,
// and the process holds the same descriptors and threads afterwards as after the first search.
//
// QV_SOAK_FINDER_ROUNDS (default 4) sets the number of searches; bench/soak.sh runs 100.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "qvlib/session/qvlib.h"
#include "qvlib/util/testsupport/process_usage.h"
#include "sim/z31sim.h"

namespace {

using namespace std::chrono_literals;
using util::testing::ProcessUsage;

constexpr const char* kModel = "Z40PRO";  // built-in row: ID "Z40P012", 115200 and 115200 baud
constexpr int kSlots = 8;                 // ports 1..8 of the folder
constexpr int kStranger = 8;              // always a device of another model

class FinderChurn : public ::testing::Test {
protected:
    FinderChurn() { setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1); }
    ~FinderChurn() override {
        devices.clear();
        unsetenv("QVLIB_PORT_DIR");
    }

    void Plug(int port) {
        if (devices.count(port)) return;
        z31sim::DeviceConfig config;
        config.port_number = port;
        config.nmea_baud = 115200;
        config.command_baud = 115200;
        config.start_mode = port % 2 ? z31sim::Mode::Normal : z31sim::Mode::Download;
        config.nmea_period_ms = 50;
        config.device_id = port == kStranger ? "Z31S006" : "Z40P012";
        devices[port] = std::make_unique<z31sim::Device>(dir.path(), config);
    }
    void Unplug(int port) { devices.erase(port); }
    // Which ports hold a device in round `round`: a pattern that changes every round.
    static bool PresentIn(int round, int port) {
        return port == kStranger || (port * 5 + round) % 4 != 0;
    }

    // One search: the folder is set for the round, the search started, one device unplugged and
    // one plugged in while it runs.
    void Search(int round) {
        for (int port = 1; port <= kSlots; ++port) {
            if (PresentIn(round, port)) {
                Plug(port);
            } else {
                Unplug(port);
            }
        }
        std::set<int> listed;
        for (const auto& [port, device] : devices) listed.insert(port);
        const int leaving = *std::next(listed.begin(), round % (listed.size() - 1));
        int arriving = 0;
        for (int port = 1; port < kSlots && arriving == 0; ++port) {
            if (!listed.count(port)) arriving = port;
        }

        ASSERT_EQ(ReqFindDevice(kModel), 1) << "round " << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * (round % 5)));
        Unplug(leaving);
        if (arriving != 0) Plug(arriving);
        for (int waited = 0; FindDeviceState() != 2 && waited < 30000; waited += 5) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(FindDeviceState(), 2) << "round " << round << ": the search did not end";

        std::set<int> found;
        for (int i = 0; i < GetFoundDeviceCount(); ++i) found.insert(GetFoundDevicePort(i));
        for (int port : listed) {
            if (port != kStranger && port != leaving) {
                EXPECT_TRUE(found.count(port)) << "round " << round << ": port " << port;
            }
        }
        for (int port : found) {
            EXPECT_TRUE(listed.count(port) && port != kStranger)
                << "round " << round << ": port " << port << " found";
        }
        // Every probe was closed: each present device's port opens for the host.
        for (const auto& [port, device] : devices) {
            EXPECT_EQ(OpenDevice(kModel, port), 1) << "round " << round << ": port " << port;
            EXPECT_EQ(CloseDevice(port), 1);
        }
    }

    z31sim::PortDir dir;
    std::map<int, std::unique_ptr<z31sim::Device>> devices;
};

}  // namespace

TEST_F(FinderChurn, RepeatedSearchesWhilePortsComeAndGoLeaveNothingBehind) {
    const int rounds = util::testing::SizeFromEnv("QV_SOAK_FINDER_ROUNDS", 4);
    const ProcessUsage start = ProcessUsage::Now();
    ASSERT_NO_FATAL_FAILURE(Search(0));
    devices.clear();
    const ProcessUsage warm = ProcessUsage::Now();
    const auto began = std::chrono::steady_clock::now();
    for (int round = 1; round < rounds; ++round) ASSERT_NO_FATAL_FAILURE(Search(round));
    devices.clear();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const ProcessUsage end = ProcessUsage::Now();

    std::printf("finder: %d searches over %d ports coming and going, %.1f s\n", rounds, kSlots,
                seconds);
    std::printf("finder: at start %s\n", util::testing::Describe(start, start).c_str());
    std::printf("finder: after search 1 -> after search %d: %s\n", rounds,
                util::testing::Describe(warm, end).c_str());
    // Compared from the end of the first search on: the library's finder, made at the first
    // search, keeps its event descriptor for the life of the process.
    EXPECT_EQ(end.fds, warm.fds) << util::testing::NewDescriptors(warm, end);
    EXPECT_EQ(end.threads, warm.threads);
    if (!util::testing::kSanitizedBuild) {
        EXPECT_LT(end.rss_kb - warm.rss_kb, 16 * 1024) << "resident size grew";
    }
}
