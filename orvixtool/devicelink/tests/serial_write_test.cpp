// The serial database write's steps against a scripted QVLib: which requests it makes in which
// order, what the bar shows, and how each ending looks on the pages.
#include <gtest/gtest.h>

#include "orvixtool/devicelink/serial_database_write.h"
#include "orvixtool/shell/progress_state.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "orvixtool/testsupport/scripted_qv_link.h"

namespace devod {
namespace {

using namespace devod::testing;

using Reply = ScriptedQvLink::Reply;
using Calls = std::vector<std::string>;

class SerialWriteTest : public ::testing::Test {
protected:
    SerialWriteTest()
        : write_(controls_, timers_, prompt_, connection_, qv_,
                 [this](bool ok) { ends_.push_back(ok); }) {
        connection_.SetKind(kSerialConnection, 5);
        connection_.SetState(ConnectionState::Connected);
        connection_.AddListener([this](const ConnectionModel& m) { states_.push_back(m.State()); });
    }

    // Ticks timer 4098 while it runs; the number of ticks.
    int RunTicks(int limit = 1000) {
        int ticks = 0;
        while (timers_.IsRunning(SerialDatabaseWrite::kTimerSerialWrite) && ticks < limit) {
            write_.OnTimer(SerialDatabaseWrite::kTimerSerialWrite);
            ++ticks;
        }
        return ticks;
    }
    Calls Requests() const {
        Calls requests;
        for (const auto& c : qv_.calls) requests.push_back(c);
        return requests;
    }

    FakeControls controls_;
    FakeTimers timers_;
    ScriptedPrompt prompt_;
    ConnectionModel connection_;
    ScriptedQvLink qv_;
    SerialDatabaseWrite write_;
    std::vector<bool> ends_;
    std::vector<ConnectionState> states_;
};

TEST_F(SerialWriteTest, DeviceInDownloadModeIsErasedThenWrittenWithTheBarFollowing) {
    qv_.Script("ReqWriteDB", {{.polls = 4}});
    qv_.progress_min = 10;
    qv_.progress_max = 5000;
    qv_.progress_pos = 1234;
    ASSERT_TRUE(write_.Start("/data/update.mob"));
    EXPECT_EQ(states_, std::vector{ConnectionState::Updating});
    EXPECT_EQ(timers_.running.at(SerialDatabaseWrite::kTimerSerialWrite), 100u);
    RunTicks();
    EXPECT_EQ(Requests(), (Calls{"ReqGetDeviceMode", "ReqEraseDB", "ReqWriteDB"}));
    EXPECT_EQ(qv_.written_paths, std::vector<std::string>{"/data/update.mob"});
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "DB Upgrade : Completed!");
    EXPECT_EQ(prompt_.boxes[0].caption, "COMPLETE");
    EXPECT_EQ(connection_.State(), ConnectionState::Connected);
    EXPECT_EQ(connection_.Kind(), kSerialConnection);
    EXPECT_EQ(ends_, std::vector{true});
    EXPECT_FALSE(write_.Running());
    // The bar followed the library's range and position while the write ran, and is back at 0.
    const ProgressState& bar = controls_.Progress(SerialDatabaseWrite::kIdProgressWrite);
    EXPECT_EQ(bar.Minimum(), 10);
    EXPECT_EQ(bar.Maximum(), 5000);
    EXPECT_EQ(bar.Pos(), 10);  // set to 0, held at the range's minimum
}

TEST_F(SerialWriteTest, BarIsSetFromTheSecondTickOfTheWriteOn) {
    qv_.Script("ReqWriteDB", {{.polls = 3}});
    qv_.progress_max = 800;
    qv_.progress_pos = 400;
    ASSERT_TRUE(write_.Start("f.mob"));
    // Mode check and erase; then the write's first tick while it runs leaves the bar untouched.
    for (int i = 0; i < 10 && write_.CurrentStep() != SerialDatabaseWrite::kStepWrite; ++i) {
        write_.OnTimer(SerialDatabaseWrite::kTimerSerialWrite);
    }
    ASSERT_EQ(write_.CurrentStep(), SerialDatabaseWrite::kStepWrite);
    write_.OnTimer(SerialDatabaseWrite::kTimerSerialWrite);
    EXPECT_NE(controls_.Progress(SerialDatabaseWrite::kIdProgressWrite).Pos(), 400);
    write_.OnTimer(SerialDatabaseWrite::kTimerSerialWrite);
    EXPECT_EQ(controls_.Progress(SerialDatabaseWrite::kIdProgressWrite).Pos(), 400);
    EXPECT_EQ(controls_.Progress(SerialDatabaseWrite::kIdProgressWrite).Maximum(), 800);
}

TEST_F(SerialWriteTest, DeviceNotInDownloadModeIsSwitchedFirst) {
    for (int mode : {0, 1, 3}) {
        qv_.calls.clear();
        qv_.Script("ReqGetDeviceMode", {{.mode = mode}});
        ASSERT_TRUE(write_.Start("f.mob"));
        RunTicks();
        EXPECT_EQ(Requests(),
                  (Calls{"ReqGetDeviceMode", "ReqSetDeviceDNMode", "ReqEraseDB", "ReqWriteDB"}))
            << mode;
        connection_.SetKind(kSerialConnection, 5);
    }
    EXPECT_EQ(ends_, (std::vector{true, true, true}));
}

TEST_F(SerialWriteTest, EveryFailureEndsDisconnectedWithTheRetryMessage) {
    struct Case {
        const char* what;
        const char* request;
        Reply reply;
        Calls calls;
    };
    const std::vector<Case> cases = {
        {"erase refused by the device",
         "ReqEraseDB",
         {.result = 2},
         {"ReqGetDeviceMode", "ReqEraseDB"}},
        {"checksum error verdict",
         "ReqWriteDB",
         {.polls = 3, .result = 2},
         {"ReqGetDeviceMode", "ReqEraseDB", "ReqWriteDB"}},
        {"write not taken",
         "ReqWriteDB",
         {.accepted = false},
         {"ReqGetDeviceMode", "ReqEraseDB", "ReqWriteDB"}},
        {"erase not taken", "ReqEraseDB", {.accepted = false}, {"ReqGetDeviceMode", "ReqEraseDB"}},
        // A mode the library never reports: the steps end instead of waiting on it for ever.
        {"unknown mode", "ReqGetDeviceMode", {.mode = 7}, {"ReqGetDeviceMode"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedQvLink fresh;
        qv_ = fresh;
        qv_.Script(c.request, {c.reply});
        prompt_.boxes.clear();
        ends_.clear();
        connection_.SetKind(kSerialConnection, 5);
        connection_.SetState(ConnectionState::Connected);
        ASSERT_TRUE(write_.Start("f.mob"));
        EXPECT_LT(RunTicks(), 1000);
        EXPECT_EQ(Requests(), c.calls);
        ASSERT_EQ(prompt_.boxes.size(), 1u);
        EXPECT_EQ(prompt_.boxes[0].text, "Error : DB write fail   \n\n  Retry to download!");
        EXPECT_EQ(prompt_.boxes[0].caption, "ERROR");
        EXPECT_EQ(connection_.State(), ConnectionState::Disconnected);
        EXPECT_EQ(connection_.Kind(), kNoConnection);
        EXPECT_EQ(ends_, std::vector{false});
        EXPECT_EQ(controls_.Progress(SerialDatabaseWrite::kIdProgressWrite).Pos(), 0);
    }
}

TEST_F(SerialWriteTest, NoSessionOnThePortRefusesTheStart) {
    qv_.Script("ReqGetDeviceMode", {{.accepted = false}});
    EXPECT_FALSE(write_.Start("f.mob"));
    EXPECT_FALSE(write_.Running());
    EXPECT_FALSE(timers_.IsRunning(SerialDatabaseWrite::kTimerSerialWrite));
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].caption, "ERROR");
    EXPECT_EQ(connection_.State(), ConnectionState::Disconnected);
    EXPECT_TRUE(ends_.empty());  // a write that never started has no end to report
}

TEST_F(SerialWriteTest, StopEndsTheStepsWithoutAMessage) {
    qv_.Script("ReqWriteDB", {{.polls = 1000000}});
    ASSERT_TRUE(write_.Start("f.mob"));
    for (int i = 0; i < 10; ++i) write_.OnTimer(SerialDatabaseWrite::kTimerSerialWrite);
    write_.Stop();
    EXPECT_FALSE(write_.Running());
    EXPECT_FALSE(timers_.IsRunning(SerialDatabaseWrite::kTimerSerialWrite));
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_TRUE(ends_.empty());
    EXPECT_FALSE(write_.OnTimer(4100));  // not its timer
}

}  // namespace
}  // namespace devod
