// Image and bootloader writes end to end: a simulated Z31 on a pseudo-terminal receives the bytes
// at the line speed the host set and answers with the verdict its knobs choose.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"
#include "sim/z31sim.h"

namespace {

using namespace std::chrono_literals;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 977) & 0xFF);
    return bytes;
}

class WriteOnSimulator : public ::testing::Test {
protected:
    static constexpr int kPort = 12;
    WriteOnSimulator() {
        setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
        config.port_number = kPort;
        config.start_mode = z31sim::Mode::Download;
        path = dir.path() + "/image.bin";
    }
    ~WriteOnSimulator() override {
        CloseDevice(kPort);
        unlink(path.c_str());
    }
    // A device in download mode with its session, the port at the command rate.
    void Start(const char* model, int nmea_baud, int command_baud) {
        config.nmea_baud = nmea_baud;
        config.command_baud = command_baud;
        device = std::make_unique<z31sim::Device>(dir.path(), config);
        ASSERT_EQ(OpenDevice(model, kPort), 1);
        if (nmea_baud != command_baud) {
            ASSERT_EQ(ReqSetDeviceDNMode(kPort), 1);
            ASSERT_TRUE(WaitUntilDone(GetQueryState, kPort));
            ASSERT_EQ(GetQueryResult(kPort), 1);
        }
    }
    int Write(int (*request)(int, const char*), const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        if (request(kPort, path.c_str()) != 1) return -1;
        if (!WaitUntilDone(GetQueryState, kPort, 60000)) return -2;
        return GetQueryResult(kPort);
    }

    z31sim::PortDir dir;
    z31sim::DeviceConfig config;
    std::unique_ptr<z31sim::Device> device;
    std::string path;
};

}  // namespace

TEST_F(WriteOnSimulator, ADatabaseArrivesByteForByteAtTheLineSpeed) {
    Start("Z40PRO", 115200, 115200);
    std::string image = Pattern(10000);
    EXPECT_EQ(Write(ReqWriteDB, image), 1);
    EXPECT_EQ(device->ReceivedImage(z31sim::Area::Database), image);
    EXPECT_EQ(GetQueryProgressMax(kPort), 10000);
    EXPECT_EQ(GetQueryProgressPos(kPort), 10000);
}

TEST_F(WriteOnSimulator, TheDevicesVerdictDecidesAlsoWhenItComesDuringTheStream) {
    Start("Z40PRO", 115200, 115200);
    device->SetPacedReception(false);
    std::string image = Pattern(3 * 4096 + 5);
    device->SetWriteVerdict(z31sim::WriteVerdict::CheckSumErr);
    EXPECT_EQ(Write(ReqWriteFW, image), 2);
    device->SetWriteVerdict(z31sim::WriteVerdict::None);
    EXPECT_EQ(Write(ReqWriteVOC, image), 2);
    device->SetWriteVerdict(z31sim::WriteVerdict::Succeed);
    device->SetVerdictDuringStream(true);
    EXPECT_EQ(Write(ReqWriteVOC, image), 1);
    EXPECT_EQ(device->ReceivedImage(z31sim::Area::Voice), image);
}

TEST_F(WriteOnSimulator, TheBootloaderGoesAt115200AfterItsStartAt9600) {
    Start("Z31STD", 4800, 115200);
    std::string image = Pattern(6000);
    EXPECT_EQ(Write(ReqWriteBootloader, image), 1);
    EXPECT_EQ(device->ReceivedImage(z31sim::Area::Bootloader), image);
    EXPECT_EQ(GetQueryProgressPos(kPort), 6000);
}

TEST_F(WriteOnSimulator, ClosingThePortStopsAWriteInTheMiddle) {
    Start("Z40PRO", 115200, 115200);
    std::string image = Pattern(64 * 4096);  // some 25 s on the paced line
    std::ofstream(path, std::ios::binary) << image;
    ASSERT_EQ(ReqWriteDB(kPort, path.c_str()), 1);
    std::this_thread::sleep_for(700ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CloseDevice(kPort), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(device->ReceivedBytes(), image.size() / 4);
}
