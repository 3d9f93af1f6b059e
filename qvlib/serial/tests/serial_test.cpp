// serial::CSerial on a pseudo-terminal: result codes, settings, raw mode, exclusive use and the
// overlapped pattern.
#include "qvlib/serial/serial.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>

#include "qvlib/serial/comm_platform.h"
#include "qvlib/serial/tests/pty_line.h"

using namespace serial;

class SerialTest : public ::testing::Test {
protected:
    PtyLine line;
    CSerial port;
    int32_t OpenOverlapped() { return port.Open(line.path().c_str(), 0, 0, true); }
};

TEST_F(SerialTest, ClosedObjectRefusesEveryOperationWithInvalidHandle) {
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Close(), kSuccess);
    char buf[4];
    EXPECT_EQ(port.Read(buf, sizeof buf), kErrorInvalidHandle);
    EXPECT_EQ(port.Write("x", 1), kErrorInvalidHandle);
    EXPECT_EQ(port.Configure(9600, 8, 0, 0), kErrorInvalidHandle);
    EXPECT_EQ(port.SetFlowControl(CSerial::kFlowNone), kErrorInvalidHandle);
    EXPECT_EQ(port.Purge(), kErrorInvalidHandle);
    EXPECT_EQ(port.GetBaudRate(), -1);
    EXPECT_EQ(port.GetParity(), -1);
    EXPECT_EQ(port.GetFlowControl(), -1);
    EXPECT_EQ(port.GetEventMask(), 0u);
    EXPECT_EQ(port.GetLastResult(), kErrorInvalidHandle);
    EXPECT_EQ(port.GetEventCharacter(), 0);
}

TEST_F(SerialTest, OpenTwiceKeepsTheFirstHandle) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    EXPECT_EQ(OpenOverlapped(), kErrorAlreadyInitialized);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Write("ab", 2), kSuccess);
    EXPECT_EQ(line.Receive(), "ab");
    EXPECT_EQ(port.GetEventMask(), kEvBreak | kEvErr | kEvRxChar);
}

TEST_F(SerialTest, MissingDeviceGivesFileNotFound) {
    EXPECT_EQ(port.Open((line.dir() + "/com99").c_str()), kErrorFileNotFound);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialTest, PortIsExclusiveWithinAndAcrossProcesses) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    CSerial second;
    EXPECT_EQ(second.Open(line.path().c_str()), kErrorAccessDenied);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CSerial other;
        _exit(other.Open(line.path().c_str()) == kErrorAccessDenied ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Once closed, the port can be had again.
    port.Close();
    EXPECT_EQ(second.Open(line.path().c_str()), kSuccess);
}

TEST_F(SerialTest, TerminalStaysRawWhateverIsConfigured) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    ASSERT_EQ(port.Configure(4800, 7, 2, 2), kSuccess);
    ASSERT_EQ(port.SetFlowControl(CSerial::kFlowSoftware), kSuccess);
    termios t = line.HostSettings();
    EXPECT_EQ(cfgetospeed(&t), B4800);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR), 0u);
    // (A pseudo-terminal forces 8 data bits without parity, so only the stop bits show here.)
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(port.GetDataBits(), 7);
    // Bytes pass untouched in both directions.
    line.Send("a\r\nb\x03");
    char buf[16] = {};
    uint32_t got = 0;
    ASSERT_EQ(port.Read(buf, sizeof buf, &got, nullptr, 200), kSuccess);
    EXPECT_EQ(std::string(buf, got), "a\r\nb\x03");
}

TEST_F(SerialTest, GettersReportWhatWasSet) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    ASSERT_EQ(port.Configure(115200, 8, 2, 1), kSuccess);
    EXPECT_EQ(port.GetBaudRate(), 115200);
    EXPECT_EQ(port.GetDataBits(), 8);
    EXPECT_EQ(port.GetParity(), 2);  // parity checking turned on with it
    EXPECT_EQ(port.GetStopBits(), 1);
    ASSERT_EQ(port.Configure(115200, 8, 0, 0), kSuccess);
    EXPECT_EQ(port.GetParity(), 0);
    for (int mode : {CSerial::kFlowHardware, CSerial::kFlowSoftware, CSerial::kFlowNone}) {
        ASSERT_EQ(port.SetFlowControl(mode), kSuccess);
        EXPECT_EQ(port.GetFlowControl(), mode);
    }
    ASSERT_EQ(port.SetEventCharacter('\n', true), kSuccess);
    EXPECT_EQ(port.GetEventCharacter(), '\n');
    EXPECT_EQ(port.GetEventMask(), kEvBreak | kEvErr | kEvRxChar | kEvRxFlag);
}

TEST_F(SerialTest, InvalidModesAndRatesChangeNothing) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    ASSERT_EQ(port.SetFlowControl(CSerial::kFlowHardware), kSuccess);
    EXPECT_EQ(port.SetFlowControl(3), kErrorInvalidArg);
    EXPECT_EQ(port.GetFlowControl(), CSerial::kFlowHardware);
    EXPECT_EQ(port.SetReadMode(2), kErrorInvalidArg);
    EXPECT_EQ(port.GetLastResult(), kErrorInvalidArg);
    ASSERT_EQ(port.Configure(4800, 8, 0, 0), kSuccess);
    EXPECT_EQ(port.Configure(12345, 8, 0, 0), kErrorInvalidParameter);
    EXPECT_EQ(port.Configure(4800, 9, 0, 0), kErrorInvalidParameter);
    EXPECT_EQ(port.GetBaudRate(), 4800);
}

TEST_F(SerialTest, TimedReadNeedsOverlappedPort) {
    ASSERT_EQ(port.Open(line.path().c_str(), 0, 0, false), kSuccess);
    char buf[4];
    EXPECT_EQ(port.Read(buf, sizeof buf, nullptr, nullptr, 100), kErrorInvalidFunction);
    Overlapped ov{std::make_shared<util::CEvent>(util::CEvent::Kind::Manual), nullptr};
    EXPECT_EQ(port.WaitForEvent(&ov, kInfinite), kErrorInvalidFunction);
    // Without a time-out the plain port works, blocking as needed.
    line.Send("z");
    ASSERT_EQ(port.SetReadMode(CSerial::kReadBlocking), kSuccess);
    uint32_t got = 0;
    EXPECT_EQ(port.Read(buf, 1, &got), kSuccess);
    EXPECT_EQ(got, 1u);
}

TEST_F(SerialTest, ReadModesReturnAtOnceOrWaitForTheCount) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    char buf[8];
    uint32_t got = 99;
    EXPECT_EQ(port.Read(buf, sizeof buf, &got, nullptr, 1000), kSuccess);  // non-blocking mode
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(port.SetReadMode(CSerial::kReadBlocking), kSuccess);
    line.Send("abc");
    EXPECT_EQ(port.Read(buf, 5, &got, nullptr, 100), kErrorTimeout);  // only 3 of 5 came
    line.Send("defgh");
    EXPECT_EQ(port.Read(buf, 5, &got, nullptr, 1000), kSuccess);
    EXPECT_EQ(got, 5u);
}

TEST_F(SerialTest, CallerOverlappedWaitReturnsPendingAndCompletesOnData) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    ASSERT_EQ(port.SetEventMask(kEvRxChar), kSuccess);
    Overlapped ov{std::make_shared<util::CEvent>(util::CEvent::Kind::Manual), nullptr};
    ASSERT_EQ(port.WaitForEvent(&ov, 100), kSuccess);
    EXPECT_EQ(WaitForOverlapped(ov, 50), kWaitTimeout);
    line.Send("q");
    EXPECT_EQ(WaitForOverlapped(ov, 1000), kWaitObject0);
    EXPECT_EQ(port.TakeEvents(), kEvRxChar);
    EXPECT_EQ(port.TakeEvents(), 0u);
}

TEST_F(SerialTest, HungUpLineFailsReads) {
    ASSERT_EQ(OpenOverlapped(), kSuccess);
    line.HangUp();
    char buf[8];
    EXPECT_NE(port.Read(buf, sizeof buf, nullptr, nullptr, 1000), kSuccess);
}

TEST(SerialErrors, ErrnoMapsToWindowsCodesOrFlaggedErrno) {
    EXPECT_EQ(platform::ErrnoToCode(ENOENT), 2);
    EXPECT_EQ(platform::ErrnoToCode(EACCES), 5);
    EXPECT_EQ(platform::ErrnoToCode(EBUSY), 5);
    EXPECT_EQ(platform::ErrnoToCode(ENOTTY), 0x20000000 | ENOTTY);
    EXPECT_EQ(platform::ErrnoToCode(EPIPE), 0x20000000 | EPIPE);
}
