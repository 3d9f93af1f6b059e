// Ports opened and closed over and over with commands still running, on scripted lines in
// virtual time: every round must open every port again, and the process must hold the same
// descriptors and threads at the end as after the first round (memory too, outside sanitizer
// builds; LeakSanitizer judges those).
//
// QV_SOAK_PORTS (default 256) and QV_SOAK_ROUNDS (default 8) set the size; bench/soak.sh runs it
// at 256 ports and 1000 rounds and the output gives the figures.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "qvlib/serial/testsupport/scripted_port.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/util/testsupport/process_usage.h"
#include "qvlib/util/testsupport/test_clock.h"

namespace {

using util::testing::ProcessUsage;

constexpr int kNmeaRate = 4800;  // "Z31STD": NMEA at 4800 baud, commands at 115200
constexpr int kCommandRate = 115200;

// A device for one port: answers the version query, shows its prompt to the download-mode
// switch and to the mode check, and streams sentences at the NMEA rate. The answers come late
// enough that a command is often still waiting for them when its port is closed.
std::unique_ptr<ScriptedPort> MakeDevice(int port) {
    auto device = std::make_unique<ScriptedPort>(port);
    device->Answer("rvfw\r", "OK!$1.02\r", 300, kCommandRate);
    device->Answer("rvfw\r", "OK!$1.02\r", 300, kNmeaRate);
    device->Answer("\r\n", "\r\nQV>>", 200, kCommandRate);
    device->Answer("$dnmode\r", "", 0);
    device->Stream("$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,*47\r\n", 200,
                   kNmeaRate);
    return device;
}

// One of three commands, by port, or none for every fourth port (an idle session is closed too).
int Request(int port) {
    switch (port % 4) {
        case 0: return ReqGetFWVersion(port);
        case 1: return ReqGetDeviceMode(port);
        case 2: return ReqSetDeviceDNMode(port);
        default: return 1;
    }
}

struct RoundCounts {
    long requested = 0;
    long in_flight = 0;  // still running when their port was closed
};

// Opens every port and hands each its command; every other port is closed at once, while its
// command has just been handed over, the rest afterwards, the last ones first, when some have
// ended and some still run.
void Round(int ports, RoundCounts& counts) {
    std::vector<std::unique_ptr<ScriptedPort>> devices;
    devices.reserve(ports);
    for (int port = 1; port <= ports; ++port) devices.push_back(MakeDevice(port));
    for (int port = 1; port <= ports; ++port) {
        ASSERT_EQ(OpenDevice("Z31STD", port), 1) << "port " << port;
    }
    auto close = [&](int port) {
        if (GetQueryState(port) == 1) ++counts.in_flight;
        ASSERT_EQ(CloseDevice(port), 1) << "port " << port;
        EXPECT_EQ(IsDeviceOpened(port), 0);
        EXPECT_EQ(GetQueryState(port), 0);
    };
    for (int port = 1; port <= ports; ++port) {
        ASSERT_EQ(Request(port), 1) << "port " << port;
        if (port % 4 != 3) ++counts.requested;
        if (port % 2 == 0) {
            ASSERT_NO_FATAL_FAILURE(close(port));
        }
    }
    for (int port = ports % 2 ? ports : ports - 1; port >= 1; port -= 2) {
        ASSERT_NO_FATAL_FAILURE(close(port));
    }
}

}  // namespace

TEST(PortChurn, OpenAndCloseWithCommandsInFlightLeavesNothingBehind) {
    const int ports = util::testing::SizeFromEnv("QV_SOAK_PORTS", 256);
    const int rounds = util::testing::SizeFromEnv("QV_SOAK_ROUNDS", 8);
    ASSERT_LE(ports, 256);
    // Every pause and silent read takes one real millisecond, so the commands run for a while
    // and the closes find many of them still running.
    util::testing::ScopedTestClock clock(1);
    clock.clock.real_pauses = true;

    RoundCounts counts;
    const ProcessUsage start = ProcessUsage::Now();
    // The first round makes what lives as long as the process (the allocator's arenas of the
    // threads, a sanitizer's own background thread); the comparison starts after it. No
    // descriptor may outlast even the first round.
    ASSERT_NO_FATAL_FAILURE(Round(ports, counts));
    const ProcessUsage warm = ProcessUsage::Now();
    const auto began = std::chrono::steady_clock::now();
    for (int round = 1; round < rounds; ++round) ASSERT_NO_FATAL_FAILURE(Round(ports, counts));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const ProcessUsage end = ProcessUsage::Now();

    std::printf("churn: %d ports x %d rounds, %ld commands, %ld closed while running, %.1f s\n",
                ports, rounds, counts.requested, counts.in_flight, seconds);
    std::printf("churn: at start %s\n", util::testing::Describe(start, start).c_str());
    std::printf("churn: after round 1 -> after round %d: %s\n", rounds,
                util::testing::Describe(warm, end).c_str());
    EXPECT_EQ(end.fds, warm.fds) << util::testing::NewDescriptors(warm, end);
    EXPECT_EQ(end.threads, warm.threads);
    EXPECT_EQ(end.fds, start.fds) << util::testing::NewDescriptors(start, end);
    // The closes must have met running commands, or the test did not test them.
    EXPECT_GT(counts.in_flight, 0);
    if (!util::testing::kSanitizedBuild) {
        EXPECT_LT(end.rss_kb - warm.rss_kb, 16 * 1024) << "resident size grew";
    }
}
