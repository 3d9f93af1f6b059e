// The mode check, the switch into download mode, the reset and the erases, on a scripted device in
// virtual time.
#include "qvlib/commands/device_mode.h"

#include <string>
#include <vector>

#include "qvlib/commands/tests/scripted_session.h"

namespace {

using Writes = std::vector<std::string>;
using Opens = std::vector<int>;

const char kGga[] = "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,*47\r\n";

class DeviceModeTest : public ScriptedSessionTest {
protected:
    void ShowPrompt(int rate) { device.Answer("\r\n", "\r\nQV>>", 0, rate); }
};

}  // namespace

TEST(NmeaHeads, OnlyTheFourGpsSentencesCount) {
    for (const char* text : {"$GPGGA,1", "x$GPRMC", "$GPGSA", "..$GPGSV,3"}) {
        EXPECT_TRUE(qv::CGetDeviceMode::HasNmeaSentence(text)) << text;
    }
    for (const char* text : {"$GNGGA,1", "$GLGSV,1", "$GPVTG,1", "$gpgga", "GPGGA", ""}) {
        EXPECT_FALSE(qv::CGetDeviceMode::HasNmeaSentence(text)) << text;
    }
}

TEST_F(DeviceModeTest, StreamingDeviceIsInNormalOperationAtTheNmeaRate) {
    Open("Z31STD");
    device.Stream(kGga, 200, kNmeaRate);
    EXPECT_EQ(Run(ReqGetDeviceMode), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 1);
    EXPECT_EQ(device.Opens(), (Opens{kNmeaRate, kNmeaRate}));
    EXPECT_EQ(device.Baud(), kNmeaRate);
    EXPECT_TRUE(device.Writes().empty());  // sentences heard: no need to ask for the prompt
}

TEST_F(DeviceModeTest, PromptMeansDownloadModeAndLeavesTheCommandRate) {
    Open("Z31STD");
    ShowPrompt(kCommandRate);
    EXPECT_EQ(Run(ReqGetDeviceMode), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 2);
    EXPECT_EQ(device.Opens(), (Opens{kNmeaRate, kNmeaRate, kCommandRate}));
    EXPECT_EQ(device.Writes(), (Writes{"\r\n"}));
    // 100 ms settling, one silent read of 2000 ms, 100 ms settling, the 100 ms pause after "\r\n".
    EXPECT_EQ(Now(), 2300u);
}

TEST_F(DeviceModeTest, EqualRatesNeverReopenThePort) {
    Open("Z40PRO");
    device.Stream(kGga, 200, kEqualRates);
    EXPECT_EQ(Run(ReqGetDeviceMode), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 1);

    device.StopStream();
    ShowPrompt(kEqualRates);
    EXPECT_EQ(Run(ReqGetDeviceMode), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 2);
    EXPECT_EQ(device.Opens(), (Opens{kEqualRates}));
}

TEST_F(DeviceModeTest, AnotherTalkersSentencesOrSilenceGiveModeZero) {
    Open("Z31STD");
    ShowPrompt(kCommandRate);
    ASSERT_EQ(Run(ReqGetDeviceMode), 1);  // mode 2 first, so that 0 is seen to be written
    device.Answer("\r\n", "", 0, kCommandRate);
    device.Stream("$GNGGA,120000.00,4807.038,N\r\n$GLGSV,1,1,00*65\r\n", 100, kNmeaRate);
    EXPECT_EQ(Run(ReqGetDeviceMode), 2);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 0);

    device.StopStream();
    uint64_t start = Now();
    EXPECT_EQ(Run(ReqGetDeviceMode), 2);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 0);
    EXPECT_EQ(Now() - start, 2400u);  // the prompt's 100 ms read times out too
}

TEST_F(DeviceModeTest, DownloadModeOnADeviceAlreadyThere) {
    Open("Z31STD");
    ShowPrompt(kCommandRate);  // "$dnmode\r" at the NMEA rate goes unheard
    EXPECT_EQ(Run(ReqSetDeviceDNMode), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 2);
    EXPECT_EQ(device.Writes(), (Writes{"$dnmode\r", "\r\n"}));
    EXPECT_EQ(device.Baud(), kCommandRate);
}

TEST_F(DeviceModeTest, SentencesBufferedBeforeTheSwitchDoNotDecideIt) {
    // Equal rates: nothing reopens the port, so a second of sentences waits in the receive buffer
    // when "$dnmode\r" goes out.
    Open("Z40PRO");
    device.Stream(kGga, 100, kEqualRates);
    device.When("$dnmode\r", [&] {
        device.StopStream();
        ShowPrompt(kEqualRates);
    });
    util::SleepMs(1000);
    EXPECT_EQ(Run(ReqSetDeviceDNMode), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 2);
    EXPECT_EQ(device.Opens(), (Opens{kEqualRates}));
}

TEST_F(DeviceModeTest, DeviceThatKeepsStreamingRefusesTheSwitch) {
    Open("Z40PRO");
    device.Stream(kGga, 100, kEqualRates);
    util::SleepMs(1000);
    EXPECT_EQ(Run(ReqSetDeviceDNMode), 2);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 1);
}

TEST_F(DeviceModeTest, ResetEndsOnceTheDeviceStreams) {
    Open("Z31STD");
    ShowPrompt(kCommandRate);
    ASSERT_EQ(Run(ReqSetDeviceDNMode), 1);
    device.When("qq\r\n", [&] {
        ShowPrompt(0);  // no longer: the prompt ends with the reset
        device.Answer("\r\n", "", 0, kCommandRate);
        device.Stream(kGga, 200, kNmeaRate);
    });
    EXPECT_EQ(Run(ReqResetDevice), 1);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 1);
    EXPECT_EQ(device.Writes(), (Writes{"$dnmode\r", "\r\n", "qq\r\n"}));
}

TEST_F(DeviceModeTest, ResetOnADeviceThatStaysInDownloadModeStopsAfterOneCheck) {
    Open("Z31STD");
    ShowPrompt(kCommandRate);
    EXPECT_EQ(Run(ReqResetDevice), 2);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 2);
    EXPECT_EQ(device.Writes(), (Writes{"qq\r\n", "\r\n"}));
}

TEST_F(DeviceModeTest, ResetOnASilentDeviceChecksThreeTimesASecondApart) {
    Open("Z31STD");
    EXPECT_EQ(Run(ReqResetDevice), 2);
    EXPECT_EQ(GetDeviceModeResult(device.port()), 0);
    EXPECT_EQ(device.Writes(), (Writes{"qq\r\n", "\r\n", "\r\n", "\r\n"}));
    // Each check: 100 + 2000 + 100 + 100 + a 100 ms read; then the 1000 ms pause, also after the
    // third.
    EXPECT_EQ(Now(), 3u * (2400 + 1000));
}

TEST_F(DeviceModeTest, CommandsOnAPortWithoutSessionAreRefused) {
    for (auto request : {ReqGetDeviceMode, ReqSetDeviceDNMode, ReqResetDevice, ReqEraseFW,
                         ReqEraseDB, ReqEraseVOC, ReqEraseBootloader, ReqEraseAll}) {
        EXPECT_EQ(Run(request), -1);
    }
    EXPECT_EQ(GetDeviceModeResult(device.port()), 0);
    EXPECT_EQ(GetDeviceModeResult(0), 0);
}

class EraseTest : public ScriptedSessionTest {
protected:
    void SetUp() override { Open("Z40PRO"); }
};

TEST_F(EraseTest, EachEraseSendsItsCommandThenItsConfirmation) {
    struct Case {
        int (*request)(int);
        const char* command;
        const char* confirmation;
    } cases[] = {{ReqEraseFW, "ep\r", "y"},
                 {ReqEraseDB, "ed\r", "y"},
                 {ReqEraseVOC, "ev\r", "y"},
                 {ReqEraseBootloader, "ep\r", "b"},
                 {ReqEraseAll, "ef\r", "y"}};
    device.Answer("y", "\r\nCompleted!\r\nQV>>", 1200);
    device.Answer("b", "\r\nCompleted!\r\nQV>>", 1200);
    size_t seen = 0;
    for (const Case& c : cases) {
        uint64_t start = Now();
        EXPECT_EQ(Run(c.request), 1) << c.command << c.confirmation;
        Writes writes = device.Writes();
        ASSERT_EQ(writes.size(), seen + 2);
        EXPECT_EQ(writes[seen], c.command);
        EXPECT_EQ(writes[seen + 1], c.confirmation);
        seen = writes.size();
        // 100 ms after the command, then 1500 ms after the confirmation before the reply is read.
        EXPECT_EQ(Now() - start, 1600u);
    }
}

TEST_F(EraseTest, EraseWithoutCompletionFailsAndPrintsTheReply) {
    device.Answer("y", "Busy", 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqEraseDB), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "dump: Busy");

    // A reply later than the read's 1000 ms is no reply.
    device.Answer("y", "Completed!", 2600);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqEraseDB), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "dump: ");
}
