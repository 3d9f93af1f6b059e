// The command framework's exchange patterns on a scripted line in virtual time.
#include "qvlib/session/command.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "qvlib/serial/testsupport/scripted_port.h"
#include "qvlib/util/testsupport/test_clock.h"

namespace {

// A command whose exchange is the test's lambda, with the framework's primitives in reach.
class ProbeCommand : public qv::CCommand {
public:
    using CCommand::AppendReply;
    using CCommand::CCommand;
    using CCommand::Collect;
    using CCommand::ListenFor;
    using CCommand::PurgeReceived;
    using CCommand::ReadReply;
    using CCommand::SendText;
    using CCommand::SwitchBaudRate;
    int Execute() override { return body(*this); }
    std::function<int(ProbeCommand&)> body;
};

class CommandFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.Open(device.port(), 4800)); }
    uint64_t Now() const { return clock.clock.PeekMs(); }

    util::testing::ScopedTestClock clock{0};
    ScriptedPort device{42};
    CSerialPort port;
    qv::CProgressInfo progress;
    qv::ModelInfo model{"M", "ID", 4800, 115200};
    ProbeCommand command{&port, &progress, &model};
    qv::ReplyBuffer<64> reply;
};

}  // namespace

TEST_F(CommandFrameworkTest, ListeningBudgetCollectsAStreamForItsLengthAndEndsOnSilence) {
    device.Stream("$GPGGA\r\n", 300);
    // Sentences at 300, 600 and 900 ms, and the one at 1200 ms that the read begun at 900 ms waited
    // for; that read spent only the 100 ms of budget that were left.
    EXPECT_EQ(command.ListenFor(reply, 1000, 2000), 32u);
    EXPECT_EQ(Now(), 1200u);

    device.StopStream();
    reply.Clear();
    uint64_t start = Now();
    EXPECT_EQ(command.ListenFor(reply, 1000, 2000), 0u);
    EXPECT_EQ(Now() - start, 2000u);  // one silent read, however long, spends the whole budget
    EXPECT_STREQ(reply.text, "");

    // A timed collection takes whatever arrives and ends with its budget, not a read later.
    device.Send("a", 30);
    device.Send("b", 180);
    start = Now();
    EXPECT_EQ(command.Collect(reply, 250, 100), 2u);
    EXPECT_EQ(Now() - start, 250u);
    EXPECT_STREQ(reply.text, "ab");
}

TEST_F(CommandFrameworkTest, AppendingStopsAtTheMarkerOrWhenTheBufferIsFull) {
    device.Send("QV", 10);
    device.Send(">>", 20);
    device.Send("tail", 30);
    EXPECT_EQ(command.ListenFor(reply, 1000, 100, "QV>>"), 4u);
    EXPECT_STREQ(reply.text, "QV>>");

    device.Stream(std::string(50, 'x'), 10);
    command.ListenFor(reply, 1000, 100);
    EXPECT_TRUE(reply.Full());
    EXPECT_EQ(std::strlen(reply.text), 64u);  // terminated inside its extra byte
    EXPECT_EQ(command.AppendReply(reply, 100), 0u);
}

TEST_F(CommandFrameworkTest, PurgeDropsWhatWasBufferedButNotWhatComesLater) {
    device.Send("old");
    device.Send("new", 50);
    util::SleepMs(10);
    EXPECT_TRUE(command.PurgeReceived());
    EXPECT_EQ(command.ReadReply(reply, 100), 3u);
    EXPECT_STREQ(reply.text, "new");
    EXPECT_EQ(reply.fill, 3u);
}

TEST_F(CommandFrameworkTest, FailedReadLeavesTheBufferAsItWas) {
    device.Send("first");
    ASSERT_EQ(command.ReadReply(reply, 100), 5u);
    EXPECT_EQ(command.ReadReply(reply, 100), 0u);
    EXPECT_STREQ(reply.text, "first");
    EXPECT_EQ(reply.fill, 5u);
}

TEST_F(CommandFrameworkTest, PortClosedUnderACommandEndsItAtTheNextReadWithFailure) {
    // The device answers the first text by closing the port, as CloseDevice does from the caller's
    // thread while the command runs.
    device.Answer("one\r", "OK!", 0);
    device.When("one\r", [&] { port.Shutdown(); });
    int reached = 0;
    command.body = [&](ProbeCommand& c) {
        c.SendText("one\r");
        ++reached;
        c.ReadReply(reply, 1000);
        ++reached;  // never: the read above ends the command
        c.SendText("two\r");
        return qv::kResultSuccess;
    };
    EXPECT_EQ(command.Run(), qv::kResultFailure);
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(device.Writes(), (std::vector<std::string>{"one\r"}));
}

TEST_F(CommandFrameworkTest, PortClosedBeforeAWriteOrABaudSwitchEndsTheCommand) {
    for (auto step : {+[](ProbeCommand& c) { c.SendText("x"); },
                      +[](ProbeCommand& c) { c.SwitchBaudRate(115200); }}) {
        port.Shutdown();
        command.body = [&](ProbeCommand& c) {
            step(c);
            return qv::kResultSuccess;
        };
        EXPECT_EQ(command.Run(), qv::kResultFailure);
    }
    EXPECT_TRUE(device.Writes().empty());
}

TEST_F(CommandFrameworkTest, FailedReopenEndsTheCommandInsteadOfListeningToAClosedPort) {
    device.FailOpens(true);
    bool went_on = false;
    command.body = [&](ProbeCommand& c) {
        c.SwitchBaudRate(115200);
        went_on = true;
        c.ListenFor(reply, 1000, 2000);
        return qv::kResultSuccess;
    };
    EXPECT_EQ(command.Run(), qv::kResultFailure);
    EXPECT_FALSE(went_on);
    EXPECT_FALSE(port.IsOpen());
}
