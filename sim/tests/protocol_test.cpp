// The protocol logic without a pty: line framing, command table, reply shaping, send queue.
#include "sim/protocol.h"

#include <gtest/gtest.h>

#include "sim/line_assembler.h"
#include "sim/reply_faults.h"
#include "sim/tx_queue.h"

namespace z31sim {
namespace {

std::vector<std::string> Lines(LineAssembler& a, std::string_view bytes) {
    std::vector<std::string> out;
    for (const char c : bytes) {
        if (auto line = a.Push(c)) out.push_back(*line);
    }
    return out;
}

TEST(LineAssemblerTest, CrEndsALineAndAFollowingLfIsSkippedEvenWhenLate) {
    LineAssembler a;
    EXPECT_EQ(Lines(a, "rvfw\rrvdb\r"), (std::vector<std::string>{"rvfw", "rvdb"}));
    EXPECT_EQ(Lines(a, "qq\r"), (std::vector<std::string>{"qq"}));
    EXPECT_TRUE(Lines(a, "\n").empty());  // the LF of "qq\r\n", arriving in a later read
    EXPECT_EQ(Lines(a, "\r\n\r"), (std::vector<std::string>{"", ""}));
}

TEST(LineAssemblerTest, OverlongLineIsTruncatedNotGrown) {
    LineAssembler a;
    const auto lines = Lines(a, std::string(3 * LineAssembler::kMaxLine, 'x') + "\rrvfw\r");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), LineAssembler::kMaxLine);
    EXPECT_EQ(lines[1], "rvfw");
}

class ProtocolTest : public ::testing::Test {
protected:
    ProtocolTest() {
        cfg_.fw_version = "FW1";
        cfg_.db_version = "DB2";
        cfg_.voc_version = "VO3";
        cfg_.device_id = "Z31S999";
        cfg_.serial_number = "SN4";
    }
    DeviceConfig cfg_;
};

TEST_F(ProtocolTest, NormalModeIgnoresAllButDnmode) {
    Protocol p(cfg_);
    EXPECT_EQ(p.LineBaud(), 4800);
    EXPECT_EQ(p.Execute("rvfw"), "");
    EXPECT_EQ(p.Execute(""), "");
    EXPECT_EQ(p.Execute("qq"), "");
    EXPECT_EQ(p.mode(), Mode::Normal);
    EXPECT_EQ(p.Execute("$dnmod"), "");
    EXPECT_EQ(p.mode(), Mode::Normal);
}

TEST_F(ProtocolTest, DnmodeEntersDownloadAtCommandRateEvenAfterNoise) {
    Protocol p(cfg_);
    EXPECT_EQ(p.Execute("\x01garbage$dnmode"), "QV>>");
    EXPECT_EQ(p.mode(), Mode::Download);
    EXPECT_EQ(p.LineBaud(), 115200);
}

TEST_F(ProtocolTest, DownloadModeAnswersQueriesWithConfiguredValues) {
    cfg_.start_mode = Mode::Download;
    Protocol p(cfg_);
    EXPECT_EQ(p.Execute("rvfw"), "\r\nOK!\r\n$FW1\r\nQV>>");
    EXPECT_EQ(p.Execute("rvdb"), "\r\nOK!\r\n$DB2\r\nQV>>");
    EXPECT_EQ(p.Execute("rvvo"), "\r\nOK!\r\n$VO3\r\nQV>>");
    EXPECT_EQ(p.Execute("rimt"), "\r\nOK!\r\n$Z31S999\r\nQV>>");
    EXPECT_EQ(p.Execute("rsmt"), "\r\nOK!\r\n$SN4\r\nQV>>");
    EXPECT_EQ(p.Execute(""), "\r\nQV>>");
    EXPECT_EQ(p.Execute("RVFW"), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(p.Execute("$dnmode"), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(p.Execute("rvfw "), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(p.mode(), Mode::Download);
    EXPECT_EQ(p.Execute("qq"), "");  // back to normal without a word
    EXPECT_EQ(p.mode(), Mode::Normal);
    EXPECT_EQ(p.LineBaud(), 4800);
}

TEST(ReplyFaultsTest, NulsGoAtStartAndBeforeEachMarker) {
    EXPECT_EQ(InsertNuls("\r\nOK!\r\n$v1\r\nQV>>"),
              std::string("\0\r\n\0OK!\r\n\0$v1\r\n\0QV>>", 20));
    EXPECT_EQ(InsertNuls(""), std::string(1, '\0'));
}

TEST(ReplyFaultsTest, SplitKeepsEveryByteInOrder) {
    const std::string reply = "\r\nOK!\r\n$1.20\r\nQV>>";
    for (int pieces : {1, 2, 3, 7, 100}) {
        const auto parts = SplitReply(reply, pieces);
        EXPECT_EQ(parts.size(), std::min<std::size_t>(pieces, reply.size()));
        std::string joined;
        for (const auto& part : parts) {
            EXPECT_FALSE(part.empty());
            joined += part;
        }
        EXPECT_EQ(joined, reply);
    }
    EXPECT_TRUE(SplitReply("", 3).empty());
    EXPECT_EQ(SplitReply("ab", 0).size(), 1u);
}

TEST(TxQueueTest, LaterChunksNeverOvertakeEarlierOnes) {
    const auto t0 = Clock::now();
    using std::chrono::milliseconds;
    TxQueue q;
    q.Schedule(t0 + milliseconds(100), {"a", "b"}, milliseconds(50), 115200);
    q.Schedule(t0, {"nmea"}, milliseconds(0), 4800);  // due earlier, queued later
    EXPECT_EQ(q.NextDue(), t0 + milliseconds(100));
    EXPECT_FALSE(q.PopDue(t0 + milliseconds(99)));
    auto a = q.PopDue(t0 + milliseconds(100));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->bytes, "a");
    EXPECT_FALSE(q.PopDue(t0 + milliseconds(149)));
    auto b = q.PopDue(t0 + milliseconds(150));
    auto c = q.PopDue(t0 + milliseconds(150));
    ASSERT_TRUE(b && c);
    EXPECT_EQ(b->bytes, "b");
    EXPECT_EQ(c->bytes, "nmea");
    EXPECT_EQ(c->baud, 4800);
    EXPECT_TRUE(q.empty());
}

}  // namespace
}  // namespace z31sim
