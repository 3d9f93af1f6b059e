// The version and identity queries: how a reply is judged, and the exchange on a line.
#include "qvlib/commands/get_version.h"

#include <gtest/gtest.h>

#include <string>

#include "qvlib/session/qv.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"

namespace {

// Judges `reply` as the command does; the destination starts as "old".
struct Judged {
    bool ok;
    std::string value;
};
Judged Judge(std::string reply) {
    std::vector<char> buffer(reply.begin(), reply.end());
    buffer.resize(reply.size() + 1);
    char destination[qv::kTextSize] = "old";
    bool ok = qv::CGetVersion::ExtractValue(buffer.data(), static_cast<uint32_t>(reply.size()),
                                            destination, sizeof destination);
    return {ok, destination};
}

}  // namespace

TEST(VersionReply, ValueLiesBetweenTheFirstDollarAndTheNextCarriageReturn) {
    EXPECT_EQ(Judge("rvfw\r\nOK!\r\n$1.02\r\nQV>>").value, "1.02");
    Judged empty = Judge("OK!$\r");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.value, "");
    // A "$" before the "OK!" is the one taken.
    EXPECT_EQ(Judge("$early\rOK!$late\r").value, "early");
}

TEST(VersionReply, NulBytesDoNotHideMarkersAndEndTheValue) {
    using namespace std::string_literals;
    EXPECT_EQ(Judge("\0\0OK!\0$V9\r"s).value, "V9");
    // A NUL inside the value becomes a carriage return, which ends the value there.
    EXPECT_EQ(Judge("OK!$AB\0CD\r"s).value, "AB");
}

TEST(VersionReply, MissingMarkersLeaveTheDestinationAlone) {
    for (const char* reply : {"", "$1.0\r", "OK!", "OK! 1.0\r", "OK!$1.0", "ok!$1.0\r"}) {
        Judged j = Judge(reply);
        EXPECT_FALSE(j.ok) << reply;
        EXPECT_EQ(j.value, "old") << reply;
    }
}

TEST(VersionReply, LongValueIsCutTo1023Characters) {
    std::string value(2000, 'v');
    Judged j = Judge("OK!$" + value + "\r");
    EXPECT_TRUE(j.ok);
    EXPECT_EQ(j.value, value.substr(0, 1023));
}

class VersionQueryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenDevice("Z40PRO", device.port()), 1); }
    void TearDown() override { CloseDevice(device.port()); }
    int Query(int (*request)(int)) {
        if (request(device.port()) != 1) return -1;
        if (!WaitUntilDone(GetQueryState, device.port())) return -2;
        return GetQueryResult(device.port());
    }
    ScriptedDevice device{9};
};

TEST_F(VersionQueryTest, EachExportSendsItsCommandAndReadsItsValue) {
    struct Case {
        int (*request)(int);
        const char* command;
    } cases[] = {{ReqGetFWVersion, "rvfw\r"},
                 {ReqGetDBVersion, "rvdb\r"},
                 {ReqGetVOCVersion, "rvvo\r"},
                 {ReqGetDeviceID, "rimt\r"},
                 {ReqGetSerialNumber, "rsmt\r"}};
    for (const Case& c : cases) {
        std::string name(c.command, 4);
        device.Answer(c.command, "\r\nOK!\r\n$value of " + name + "\r\nQV>>");
        EXPECT_EQ(Query(c.request), 1) << name;
        EXPECT_EQ(GetVersionResult(device.port()), "value of " + name);
    }
    EXPECT_EQ(device.Received().size(), 5u);
}

TEST_F(VersionQueryTest, AFailedQueryKeepsTheEarlierValue) {
    device.Answer("rvfw\r", "OK!$FW1\r");
    device.Answer("rvdb\r", "ERROR\r\nQV>>");
    ASSERT_EQ(Query(ReqGetFWVersion), 1);
    EXPECT_EQ(Query(ReqGetDBVersion), 2);
    EXPECT_STREQ(GetVersionResult(device.port()), "FW1");
}

TEST_F(VersionQueryTest, SilentDeviceFailsAfterTheReadTimeOut) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Query(ReqGetVOCVersion), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[CSerialPort::Read] Error Timeout. 1000\n");
    EXPECT_STREQ(GetVersionResult(device.port()), "");
}
