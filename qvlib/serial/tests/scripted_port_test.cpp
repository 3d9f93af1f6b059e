// The scripted line under CSerialPort: a session talks to it by port number, and its waits run on
// the test clock.
#include "qvlib/serial/testsupport/scripted_port.h"

#include <gtest/gtest.h>

#include <string>

#include "qvlib/serial/serial_port.h"
#include "qvlib/util/testsupport/test_clock.h"

namespace {

class ScriptedPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.Open(device.port(), 4800)); }
    std::string Read(uint32_t timeout_ms) {
        char buffer[64];
        uint32_t received = 0;
        if (!port.Read(buffer, sizeof buffer, &received, timeout_ms)) return "<timeout>";
        return std::string(buffer, received);
    }
    util::testing::ScopedTestClock clock{0};
    ScriptedPort device{41};
    CSerialPort port;
};

}  // namespace

TEST_F(ScriptedPortTest, AnswerArrivesAfterItsDelayInVirtualTime) {
    device.Answer("ping\r", "pong", 250);
    uint32_t written = 0;
    ASSERT_TRUE(port.Write("ping\r", 5, &written));
    EXPECT_EQ(Read(100), "<timeout>");
    EXPECT_EQ(clock.clock.PeekMs(), 100u);
    EXPECT_EQ(Read(1000), "pong");
    EXPECT_EQ(clock.clock.PeekMs(), 250u);
    EXPECT_EQ(device.Writes(), (std::vector<std::string>{"ping\r"}));
}

TEST_F(ScriptedPortTest, BytesAtAnotherRateAreLostAndReopeningPurges) {
    device.Answer("\r\n", "QV>>", 0, 115200);
    uint32_t written = 0;
    port.Write("\r\n", 2, &written);
    EXPECT_EQ(Read(100), "<timeout>");
    ASSERT_TRUE(port.Reopen(115200));
    port.Write("\r\n", 2, &written);
    EXPECT_EQ(Read(100), "QV>>");

    device.Send("stale");
    ASSERT_TRUE(port.Reopen(115200));
    EXPECT_EQ(Read(100), "<timeout>");
    EXPECT_EQ(device.Opens(), (std::vector<int>{4800, 115200, 115200}));
}

TEST_F(ScriptedPortTest, StreamKeepsItsPeriodAndShutdownFailsEveryLaterCall) {
    device.Stream("$GPGGA\r\n", 200);
    EXPECT_EQ(Read(1000), "$GPGGA\r\n");
    EXPECT_EQ(clock.clock.PeekMs(), 200u);
    util::SleepMs(450);  // two more sentences wait in the buffer
    EXPECT_EQ(Read(0), "$GPGGA\r\n$GPGGA\r\n");

    port.Shutdown();
    uint32_t written = 0;
    EXPECT_FALSE(port.Write("x", 1, &written));
    EXPECT_EQ(Read(1000), "<timeout>");
    EXPECT_FALSE(port.Reopen(4800));
}
