// CSerialPort: opening by number, the timed read and closing under a running read.
#include "qvlib/serial/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <thread>

#include "qvlib/serial/port_names.h"
#include "qvlib/serial/tests/pty_line.h"

using namespace serial;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST(PortNames, NumbersMapToFixedDevicesOrThePortFolder) {
    unsetenv("QVLIB_PORT_DIR");
    EXPECT_EQ(ComDeviceName(12), "\\\\.\\COM12");
    EXPECT_EQ(ComPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(ComPortPath(32), "/dev/ttyS31");
    EXPECT_EQ(ComPortPath(33), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortPath(65), "/dev/ttyACM0");
    EXPECT_EQ(ComPortPath(96), "/dev/ttyACM31");
    EXPECT_EQ(ComPortPath(97), "");
    EXPECT_EQ(ComPortPath(0), "");
    EXPECT_EQ(ComPortPath(257), "");
    setenv("QVLIB_PORT_DIR", "/tmp/ports", 1);
    EXPECT_EQ(ComPortPath(12), "/tmp/ports/com12");
    EXPECT_EQ(ComPortPath(200), "/tmp/ports/com200");
    unsetenv("QVLIB_PORT_DIR");
}

class SerialPortTest : public ::testing::Test {
protected:
    PtyLine line{12};
    CSerialPort port;
};

TEST_F(SerialPortTest, OpensByNumberWithFixedLineSettings) {
    ASSERT_TRUE(port.Open(12, 4800));
    EXPECT_EQ(port.GetPortNumber(), 12);
    termios t = line.HostSettings();
    EXPECT_EQ(cfgetospeed(&t), B4800);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    ASSERT_TRUE(port.Reopen(115200));
    t = line.HostSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(port.GetPortNumber(), 12);
}

TEST_F(SerialPortTest, OpenOfAMissingPortFails) {
    EXPECT_FALSE(port.Open(13, 4800));
    EXPECT_EQ(port.GetLastResult(), kErrorFileNotFound);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, ReopenOfAClosedPortFailsAndStaysClosed) {
    EXPECT_FALSE(port.Reopen(4800));
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, SilentLineTimesOutWithNothingReceived) {
    ASSERT_TRUE(port.Open(12, 115200));
    char buf[16];
    uint32_t got = 77;
    CaptureStdout();
    EXPECT_FALSE(port.Read(buf, sizeof buf, &got, 60));
    EXPECT_EQ(GetCapturedStdout(), "[CSerialPort::Read] Error Timeout. 60\n");
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port.GetLastResult(), kErrorTimeout);
}

TEST_F(SerialPortTest, ReadTakesUpToCapacityAndLeavesTheRest) {
    ASSERT_TRUE(port.Open(12, 115200));
    line.Send("0123456789");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    char buf[8] = {};
    uint32_t got = 0;
    ASSERT_TRUE(port.Read(buf, 4, &got, 500));
    EXPECT_EQ(std::string(buf, got), "0123");
    ASSERT_TRUE(port.Read(buf, 8, &got, 500));
    EXPECT_EQ(std::string(buf, got), "456789");
}

TEST_F(SerialPortTest, ReadWaitsForTheFirstByteThenDrains) {
    ASSERT_TRUE(port.Open(12, 115200));
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        line.Send("late");
    });
    char buf[16];
    uint32_t got = 0;
    EXPECT_TRUE(port.Read(buf, sizeof buf, &got, 2000));
    device.join();
    EXPECT_GE(got, 1u);
    EXPECT_EQ(std::string(buf, got), std::string("late").substr(0, got));
}

TEST_F(SerialPortTest, ReopenAfterAReadThatWaitedForItsBytes) {
    // The wait that a read completes must not keep the old descriptor, which holds the device
    // exclusively, alive into the next open.
    ASSERT_TRUE(port.Open(12, 4800));
    for (int round = 0; round < 2; ++round) {
        std::thread device([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            line.Send("$GPGGA");
        });
        char buf[16];
        uint32_t got = 0;
        EXPECT_TRUE(port.Read(buf, sizeof buf, &got, 2000));
        device.join();
        ASSERT_TRUE(port.Reopen(round == 0 ? 115200 : 4800)) << round;
    }
}

TEST_F(SerialPortTest, WriteSendsEveryByte) {
    ASSERT_TRUE(port.Open(12, 115200));
    std::string big(3000, 'x');
    uint32_t written = 0;
    std::string received;
    std::thread device([&] {
        while (received.size() < big.size()) {
            std::string part = line.Receive(500);
            if (part.empty()) break;
            received += part;
        }
    });
    EXPECT_TRUE(port.Write(big.data(), static_cast<uint32_t>(big.size()), &written));
    device.join();
    EXPECT_EQ(written, big.size());
    EXPECT_EQ(received, big);
}

TEST_F(SerialPortTest, ShutdownFromAnotherThreadEndsABlockedReadAndPreventsReopen) {
    ASSERT_TRUE(port.Open(12, 115200));
    std::atomic<bool> result{true};
    CaptureStdout();
    std::thread reader([&] {
        char buf[16];
        uint32_t got = 0;
        result = port.Read(buf, sizeof buf, &got, 60000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.Shutdown();
    reader.join();  // would take a minute if the close did not wake the read
    GetCapturedStdout();
    EXPECT_FALSE(result);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Open(12, 115200));
}
