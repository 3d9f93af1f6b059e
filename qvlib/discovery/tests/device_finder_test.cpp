// The device finder against simulated devices on pseudo-terminals in a port folder.
#include "qvlib/discovery/device_finder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "qvlib/discovery/com_ports.h"
#include "qvlib/session/qvlib.h"
#include "sim/z31sim.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kModel = "Z40PRO";  // built-in row: ID "Z40P012", 115200 and 115200 baud

bool Received(const z31sim::Device& device, const std::string& command) {
    auto commands = device.ReceivedCommands();
    return std::any_of(commands.begin(), commands.end(),
                       [&](const std::string& c) { return c.rfind(command, 0) == 0; });
}

class FinderOnSimulator : public ::testing::Test {
protected:
    FinderOnSimulator() { setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1); }

    // A device of the searched model; `id` replaces its answer to the ID query.
    z31sim::Device& AddDevice(int port, z31sim::Mode mode, const std::string& id = "Z40P012") {
        z31sim::DeviceConfig config;
        config.port_number = port;
        config.nmea_baud = 115200;
        config.command_baud = 115200;
        config.start_mode = mode;
        config.nmea_period_ms = 50;
        config.device_id = id;
        devices.push_back(std::make_unique<z31sim::Device>(dir.path(), config));
        return *devices.back();
    }
    static bool WaitForState(const qv::CDeviceFinder& finder, int state) {
        for (int waited = 0; waited < 20000; waited += 5) {
            if (finder.State() == state) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    z31sim::PortDir dir;
    qv::ModelTable models;
    std::vector<std::unique_ptr<z31sim::Device>> devices;
};

}  // namespace

TEST_F(FinderOnSimulator, KeepsTheMatchingPortsInProbeOrder) {
    z31sim::Device& streaming = AddDevice(5, z31sim::Mode::Normal);
    AddDevice(3, z31sim::Mode::Download);
    z31sim::Device& other_case = AddDevice(4, z31sim::Mode::Download, "z40p012");
    qv::CDeviceFinder finder(models, [] { return std::vector<int>{5, 3, 4, 9}; });
    EXPECT_EQ(finder.State(), qv::kFinderIdle);

    ASSERT_TRUE(finder.Request(kModel));
    EXPECT_EQ(finder.State(), qv::kFinderSearching);
    EXPECT_EQ(finder.FoundCount(), 0);
    EXPECT_EQ(finder.FoundPort(0), 0);
    ASSERT_TRUE(WaitForState(finder, qv::kFinderDone));

    ASSERT_EQ(finder.FoundCount(), 2);
    EXPECT_EQ(finder.FoundPort(0), 5);
    EXPECT_EQ(finder.FoundPort(1), 3);
    EXPECT_EQ(finder.FoundPort(2), 0);
    EXPECT_EQ(finder.FoundPort(-1), 0);
    // The device streaming NMEA was switched first; the one answering in another letter case was
    // asked and is not found.
    EXPECT_TRUE(Received(streaming, "$dnmode"));
    EXPECT_TRUE(Received(streaming, "rimt"));
    EXPECT_TRUE(Received(other_case, "rimt"));
    // Every probe is closed again: the host can open the ports.
    EXPECT_EQ(OpenDevice(kModel, 5), 1);
    EXPECT_EQ(CloseDevice(5), 1);
}

TEST_F(FinderOnSimulator, ASearchAgainEmptiesTheListAndFindsAnew) {
    AddDevice(2, z31sim::Mode::Download);
    qv::CDeviceFinder finder(models, [] { return std::vector<int>{2}; });
    ASSERT_TRUE(finder.Request(kModel));
    ASSERT_TRUE(WaitForState(finder, qv::kFinderDone));
    ASSERT_EQ(finder.FoundCount(), 1);
    devices.front()->SetSilent(true);
    ASSERT_TRUE(finder.Request(kModel));
    EXPECT_EQ(finder.FoundCount(), 0);
    ASSERT_TRUE(WaitForState(finder, qv::kFinderDone));
    EXPECT_EQ(finder.FoundCount(), 0);
}

TEST_F(FinderOnSimulator, RefusedRequestsKeepTheLastOutcome) {
    qv::CDeviceFinder nothing_listed(models, [] { return std::vector<int>{}; });
    EXPECT_FALSE(nothing_listed.Request(kModel));
    EXPECT_EQ(nothing_listed.State(), qv::kFinderIdle);

    qv::CDeviceFinder none_opens(models, [] { return std::vector<int>{0, 8, 300}; });
    EXPECT_FALSE(none_opens.Request(kModel));
    EXPECT_EQ(none_opens.State(), qv::kFinderIdle);

    AddDevice(6, z31sim::Mode::Download);
    qv::CDeviceFinder finder(models, [] { return std::vector<int>{6}; });
    EXPECT_FALSE(finder.Request("z40pro"));  // model names are exact
    EXPECT_FALSE(finder.Request(nullptr));
    ASSERT_TRUE(finder.Request(kModel));
    ASSERT_TRUE(WaitForState(finder, qv::kFinderDone));
    EXPECT_FALSE(finder.Request("NOSUCH"));
    EXPECT_EQ(finder.State(), qv::kFinderDone);
    EXPECT_EQ(finder.FoundPort(0), 6);
}

// Through the exports: the library's finder lists the port folder.
TEST_F(FinderOnSimulator, LeavesOutTheHostsPortsAndRefusesASecondSearch) {
    AddDevice(5, z31sim::Mode::Download);
    z31sim::Device& hosts = AddDevice(3, z31sim::Mode::Download);
    ASSERT_EQ(OpenDevice(kModel, 3), 1);

    ASSERT_EQ(ReqFindDevice(kModel), 1);
    EXPECT_EQ(ReqFindDevice(kModel), 0);
    EXPECT_EQ(FindDeviceState(), 1);
    EXPECT_EQ(GetFoundDeviceCount(), 0);
    for (int waited = 0; FindDeviceState() != 2 && waited < 20000; waited += 5) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(FindDeviceState(), 2);
    ASSERT_EQ(GetFoundDeviceCount(), 1);
    EXPECT_EQ(GetFoundDevicePort(0), 5);
    EXPECT_FALSE(Received(hosts, "$dnmode"));

    // The host's session was not disturbed.
    ASSERT_EQ(ReqGetDeviceID(3), 1);
    for (int waited = 0; GetQueryState(3) != 2 && waited < 5000; waited += 5) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(GetQueryResult(3), 1);
    EXPECT_STREQ(GetVersionResult(3), "Z40P012");
    EXPECT_EQ(CloseDevice(3), 1);
}

TEST_F(FinderOnSimulator, DestroyedDuringASearchItEndsAtOnce) {
    for (int port = 1; port <= 4; ++port) AddDevice(port, z31sim::Mode::Download);
    auto finder = std::make_unique<qv::CDeviceFinder>(models, [] {
        return std::vector<int>{1, 2, 3, 4};
    });
    ASSERT_TRUE(finder->Request(kModel));
    std::this_thread::sleep_for(300ms);  // the probes are inside their mode check's long read
    auto start = std::chrono::steady_clock::now();
    finder.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    // The ports are free again.
    EXPECT_EQ(OpenDevice(kModel, 1), 1);
    EXPECT_EQ(CloseDevice(1), 1);
}

TEST(PortFolder, ListsItsComEntriesByNumber) {
    z31sim::PortDir dir;
    for (const char* name : {"com12", "com3", "com0", "com07", "com257", "comX", "com4x", "tty1"}) {
        std::ofstream(dir.path() + "/" + name) << "";
    }
    EXPECT_EQ(qv::ListPortDir(dir.path()), (std::vector<int>{3, 12}));
    EXPECT_TRUE(qv::ListPortDir(dir.path() + "/missing").empty());
}

// Device nodes stand in as links to /dev/null, a character device that is no UART.
TEST(DeviceNodes, KeepsCharacterDevicesAndLeavesOutTtySPlaceholders) {
    z31sim::PortDir dir;
    const std::string dev = dir.path() + "/dev";
    const std::string sys = dir.path() + "/sys";
    ASSERT_EQ(mkdir(dev.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(sys.c_str(), 0700), 0);
    for (const char* node : {"ttyUSB0", "ttyACM31", "ttyS1", "ttyS2", "ttyUSB32"}) {
        ASSERT_EQ(symlink("/dev/null", (dev + "/" + node).c_str()), 0);
    }
    std::ofstream(dev + "/ttyUSB1") << "";  // a plain file is no port
    // The kernel knows a device behind ttyS2, but it reports no UART type.
    ASSERT_EQ(mkdir((sys + "/ttyS2").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((sys + "/ttyS2/device").c_str(), 0700), 0);

    EXPECT_EQ(qv::ListDeviceNodes(dev, sys), (std::vector<int>{33, 96}));
    EXPECT_TRUE(qv::ListDeviceNodes(dir.path() + "/missing", sys).empty());
}
