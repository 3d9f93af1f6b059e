// The page against the simulated device: a UsbDevice on a socket of this test's own, and
// PipeBridge pointed at the simulator's library.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/settingspage/device_exchange.h"
#include "orvixtool/settingspage/tests/page_fixture.h"
#include "sim/usb/z31usb.h"

namespace devod::testing {

class DevicePageTest : public PageTest {
protected:
    void SetUp() override {
        static int counter = 0;
        socket_ = "/tmp/devod-settings-" + std::to_string(getpid()) + "-" +
                  std::to_string(++counter) + ".sock";
        setenv("Z31_USB_SOCKET", socket_.c_str(), 1);
        PipeBridge::SetLibraryPath(PIPEBRIDGE_LIBRARY);
        device_ = std::make_unique<z31sim::UsbDevice>(socket_);
        PageTest::SetUp();
        Connect();
    }
    void TearDown() override {
        device_.reset();
        unsetenv("Z31_USB_SOCKET");
        unsetenv("Z31_USB_READ_TIMEOUT_MS");
        UsbExchange::SetReplyTimeoutMs(UsbExchange::kDefaultReplyTimeoutMs);
        PipeBridge::SetLibraryPath("");
        PageTest::TearDown();
    }

    // The settings frames the device received, once `count` of them arrived.
    std::vector<z31sim::Bytes> Frames(size_t count) {
        EXPECT_TRUE(device_->WaitForFrames(count, std::chrono::seconds(10)));
        return device_->ReceivedFrames();
    }
    static z31sim::Bytes WriteFrame(uint8_t kind, std::vector<uint8_t> payload) {
        z31sim::Bytes frame(64, 0);
        frame[0] = 0x23;
        frame[1] = kind;
        frame[2] = 0x02;
        std::copy(payload.begin(), payload.end(), frame.begin() + 3);
        return frame;
    }
    // A device that stops answering fails the read quickly.
    void ShortReplyTimeout() {
        setenv("Z31_USB_READ_TIMEOUT_MS", "100", 1);
        UsbExchange::SetReplyTimeoutMs(100);
    }
    // After an exchange the pages show the connection again.
    void ExpectPagesConnected() {
        EXPECT_EQ(main_.status, "Connected");
        EXPECT_EQ(UpgradeButtons(), (std::vector<bool>{false, true, true}));
        EXPECT_TRUE(AllDeviceControls(true));
        EXPECT_TRUE(SummerShown(true));
    }
    // After the device was found gone: disconnected, and the owner can connect again.
    void ExpectDisconnected() {
        EXPECT_EQ(connection_.Kind(), kNoConnection);
        EXPECT_EQ(main_.status, "Disconnect");
        EXPECT_EQ(UpgradeButtons(), (std::vector<bool>{true, false, false}));
        EXPECT_TRUE(AllDeviceControls(false));
        EXPECT_TRUE(SummerShown(false));
    }

    std::string socket_;
    std::unique_ptr<z31sim::UsbDevice> device_;
};

}  // namespace devod::testing
