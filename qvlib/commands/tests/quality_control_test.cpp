// Serial number writes and the quality-control reports, on a scripted device in virtual time.
#include "qvlib/commands/quality_control.h"

#include <cstring>
#include <string>
#include <vector>

#include "qvlib/commands/tests/scripted_session.h"

namespace {

using Writes = std::vector<std::string>;

class QualityControlTest : public ScriptedSessionTest {
protected:
    void SetUp() override { Open("Z40PRO"); }
    std::string View() { return GetViewQC(device.port()); }
    int SetSerial(const char* number) {
        if (ReqSetSerialNumber(device.port(), number) != 1) return -1;
        return Await();
    }
};

std::string Report(size_t body) { return "$GPSRESULT\r\n" + std::string(body, 'r') + "END\r\n"; }

}  // namespace

TEST_F(QualityControlTest, SerialNumberIsWrittenAfterItsCommandAndConfirmation) {
    device.Answer("A1234\r", "\r\nCompleted!\r\nQV>>", 300);
    EXPECT_EQ(SetSerial("A1234"), 1);
    EXPECT_EQ(device.Writes(), (Writes{"wsmt\r", "y", "A1234\r"}));
    EXPECT_EQ(Now(), 700u);  // 100, 100 and 500 ms pauses before the read
}

TEST_F(QualityControlTest, SerialNumberRefusedWithEraseFirstFailsEvenBesideCompleted) {
    device.Answer("A1\r", "EraseFirst!\r\nCompleted!\r\n");
    EXPECT_EQ(SetSerial("A1"), 2);
    device.Answer("A1\r", "\r\nQV>>");
    EXPECT_EQ(SetSerial("A1"), 2);
    EXPECT_EQ(SetSerial(nullptr), -1);  // no number: refused, nothing sent
    EXPECT_EQ(device.Writes().size(), 6u);
}

TEST_F(QualityControlTest, SerialNumberEraseSendsItsCommandAndConfirmation) {
    device.Answer("y", "Completed!");
    EXPECT_EQ(Run(ReqEraseSerialNumber), 1);
    EXPECT_EQ(device.Writes(), (Writes{"esmt\r", "y"}));
}

TEST(QcViewReport, ReportRunsFromItsStartMarkerThroughItsEndMarker) {
    char view[qv::CReqViewQC::kViewSize] = "old";
    EXPECT_TRUE(qv::CReqViewQC::ExtractReport("junk$GPSRESULT\r\nfix ok\r\nEND\r\nQV>>", view));
    EXPECT_STREQ(view, "$GPSRESULT\r\nfix ok\r\nEND\r\n");
    // An end marker before the start only does not count; neither does a missing one.
    for (const char* reply : {"END\r\n$GPSRESULT\r\nfix", "$GPSRESULT\r\nfix END", "END\r\n"}) {
        std::strcpy(view, "old");
        EXPECT_FALSE(qv::CReqViewQC::ExtractReport(reply, view)) << reply;
        EXPECT_STREQ(view, "old");
    }
}

TEST_F(QualityControlTest, QcViewLongerThanItsTextIsCut) {
    std::string report = Report(1500);
    device.Answer("$viewqc\r", report, 200);
    EXPECT_EQ(Run(ReqViewQC), 1);
    EXPECT_EQ(View(), report.substr(0, 1023));
}

TEST_F(QualityControlTest, QcViewWithoutItsEndLeavesTheTextEmpty) {
    device.Answer("$viewqc\r", Report(10));
    ASSERT_EQ(Run(ReqViewQC), 1);
    device.Answer("$viewqc\r", "$GPSRESULT\r\nno end");
    EXPECT_EQ(Run(ReqViewQC), 2);
    EXPECT_EQ(View(), "");
    // A report later than the 100 ms pause and the 500 ms read is no report.
    device.Answer("$viewqc\r", Report(10), 700);
    EXPECT_EQ(Run(ReqViewQC), 2);
}

TEST_F(QualityControlTest, QcVerdictIsSearchedPassThenFailThenNotDone) {
    EXPECT_EQ(GetQCTestResult(device.port()), 3);  // nothing asked yet
    struct Case {
        const char* reply;
        int verdict;
        int result;
    } cases[] = {{"$FAIL\r\n$PASS\r\n", 0, 1},
                 {"$NOTDONE\r\n$FAIL\r\n", 1, 1},
                 {"$NOTDONE\r\n", 2, 1},
                 {"$PAS\r\n", 3, 2}};
    for (const Case& c : cases) {
        device.Answer("$qcresult\r\n", c.reply);
        EXPECT_EQ(Run(ReqQCTestResult), c.result) << c.reply;
        EXPECT_EQ(GetQCTestResult(device.port()), c.verdict) << c.reply;
    }
}

TEST_F(QualityControlTest, QcCollectionEndsOnAShortReplyAfterTwoSilentReads) {
    device.Answer("$qcresult\r\n", "$FAIL\r\n");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqQCTestResult), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "dump[7]: $FAIL\r\n\n");
    EXPECT_EQ(GetQCTestResult(device.port()), 1);
    EXPECT_EQ(Now(), 2000u);
}

TEST_F(QualityControlTest, QcCollectionWaitsOutOneSilentReadBetweenPieces) {
    device.Answer("$qcresult\r\n", "$NOT");
    device.When("$qcresult\r\n", [&] { device.Send("DONE\r\n", 1500); });
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqQCTestResult), 1);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(GetQCTestResult(device.port()), 2);
    EXPECT_EQ(Now(), 1500u + 2000u);
}

TEST_F(QualityControlTest, QcCollectionOnSilenceEndsAfterOneReadWithoutVerdict) {
    device.Answer("$qcresult\r\n", "$PASS");
    ASSERT_EQ(Run(ReqQCTestResult), 1);
    device.Answer("$qcresult\r\n", "");
    ::testing::internal::CaptureStdout();
    uint64_t start = Now();
    EXPECT_EQ(Run(ReqQCTestResult), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "dump[0]: \n");
    EXPECT_EQ(GetQCTestResult(device.port()), 3);
    EXPECT_EQ(Now() - start, 1000u);
}

TEST_F(QualityControlTest, QcCollectionEndsAtOnceWhenEnoughHasArrived) {
    device.Answer("$qcresult\r\n", std::string(600, '.') + "$PASS\r\n");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqQCTestResult), 1);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(GetQCTestResult(device.port()), 0);
    EXPECT_EQ(Now(), 0u);
}

TEST(QcWithoutSession, RequestsAreRefusedAndTheVerdictIsUnknown) {
    EXPECT_EQ(ReqViewQC(250), 0);
    EXPECT_EQ(ReqQCTestResult(250), 0);
    EXPECT_EQ(ReqSetSerialNumber(250, "A1"), 0);
    EXPECT_EQ(ReqEraseSerialNumber(250), 0);
    EXPECT_EQ(GetViewQC(250), nullptr);
    EXPECT_EQ(GetQCTestResult(250), 3);
    EXPECT_EQ(GetQCTestResult(-1), 3);
}
