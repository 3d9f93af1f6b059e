// Ports, sessions and the request flow, through the exported functions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "qvlib/commands/get_version.h"
#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"

namespace {

constexpr char kModel[] = "Z40PRO";  // NMEA and command rates equal: no baud switching
constexpr char kOk[] = "\r\nOK!\r\n$1.2.3\r\nQV>>";

class SessionTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int port = 1; port <= 256; ++port) CloseDevice(port);
    }
    ScriptedDevice device{7};
};

// Runs the test body with the process in a fresh temporary folder.
class InTempDir {
public:
    InTempDir() : old_(std::filesystem::current_path()) {
        char dir[] = "/tmp/qvcwd-XXXXXX";
        dir_ = mkdtemp(dir);
        std::filesystem::current_path(dir_);
    }
    ~InTempDir() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }

private:
    std::filesystem::path old_;
    std::string dir_;
};

}  // namespace

TEST(Ports, ValidNumbersAreOneTo256) {
    EXPECT_EQ(IsPortValid(0), 0);
    EXPECT_EQ(IsPortValid(257), 0);
    EXPECT_EQ(IsPortValid(-1), 0);
    EXPECT_EQ(IsPortValid(1), 1);
    EXPECT_EQ(IsPortValid(256), 1);
}

TEST(Ports, ExportsWithoutSessionRefuseOrReportNothing) {
    for (int port : {-5, 0, 3, 256, 257}) {
        EXPECT_EQ(IsDeviceOpened(port), 0);
        EXPECT_EQ(CloseDevice(port), 0);
        EXPECT_EQ(GetQueryState(port), 0);
        EXPECT_EQ(GetQueryResult(port), 0);
        EXPECT_EQ(GetQueryProgressMax(port), 0);
        EXPECT_EQ(ReqGetFWVersion(port), 0);
        EXPECT_EQ(GetVersionResult(port), nullptr);
    }
}

TEST_F(SessionTest, OpenGivesAnIdleSessionAndCloseWorksOnce) {
    EXPECT_EQ(OpenDevice(kModel, 0), 0);
    ASSERT_EQ(OpenDevice(kModel, 7), 1);
    EXPECT_EQ(IsDeviceOpened(7), 1);
    EXPECT_EQ(GetQueryState(7), 0);
    EXPECT_EQ(GetQueryResult(7), 0);
    EXPECT_EQ(GetQueryProgressMin(7), 0);
    EXPECT_EQ(GetQueryProgressMax(7), 0);
    EXPECT_EQ(GetQueryProgressPos(7), 0);
    ASSERT_NE(GetVersionResult(7), nullptr);
    EXPECT_STREQ(GetVersionResult(7), "");
    EXPECT_EQ(CloseDevice(7), 1);
    EXPECT_EQ(CloseDevice(7), 0);
    EXPECT_EQ(IsDeviceOpened(7), 0);
}

TEST_F(SessionTest, OpenRefusesUnknownModelsMissingPortsAndAnOpenPort) {
    EXPECT_EQ(OpenDevice("z40pro", 7), 0);  // letter case differs
    EXPECT_EQ(OpenDevice(nullptr, 7), 0);
    EXPECT_EQ(OpenDevice(kModel, 8), 0);  // no device there
    EXPECT_EQ(IsDeviceOpened(8), 0);
    ASSERT_EQ(OpenDevice(kModel, 7), 1);
    EXPECT_EQ(OpenDevice(kModel, 7), 0);
    // The first session still works.
    device.Answer("rvfw\r", kOk);
    ASSERT_EQ(ReqGetFWVersion(7), 1);
    ASSERT_TRUE(WaitUntilDone(GetQueryState, 7));
    EXPECT_EQ(GetQueryResult(7), 1);
}

TEST_F(SessionTest, ModelFileWithoutUsableRowsMakesEveryOpenFail) {
    InTempDir here;
    std::ofstream("model.txt") << "only,three,fields\n";
    EXPECT_EQ(OpenDevice(kModel, 7), 0);
    std::ofstream("model.txt") << "MINE,ID,115200,115200\n";
    EXPECT_EQ(OpenDevice("MINE", 7), 1);
}

TEST_F(SessionTest, ModelNamesComeFromTheModelFileOrTheBuiltInTable) {
    InTempDir here;
    auto names = [] {
        std::vector<std::string> all;
        char name[8];
        for (int i = 0; GetModelName(i, name, sizeof name) >= 0; ++i) all.push_back(name);
        return all;
    };
    const auto built_in = names();
    ASSERT_EQ(built_in.size(), 12u);
    EXPECT_EQ(built_in[5], "Z31STD");
    std::ofstream("model.txt") << "MINE,ID,115200,115200\nA-LONGER-NAME,ID2,4800,115200\n";
    // Names longer than the buffer are cut to its size.
    EXPECT_EQ(names(), (std::vector<std::string>{"MINE", "A-LONGE"}));
    char name[32];
    EXPECT_EQ(GetModelName(1, name, sizeof name), 13);
    EXPECT_STREQ(name, "A-LONGER-NAME");
    EXPECT_EQ(GetModelName(2, name, sizeof name), -1);
    EXPECT_EQ(GetModelName(-1, name, sizeof name), -1);
    EXPECT_EQ(GetModelName(0, nullptr, 8), -1);
    EXPECT_EQ(GetModelName(0, name, 0), -1);
}

TEST_F(SessionTest, RequestRunsUntilDoneAndReportsMeanwhile) {
    device.Answer("rvfw\r", kOk, 300);
    ASSERT_EQ(OpenDevice(kModel, 7), 1);
    ASSERT_EQ(ReqGetFWVersion(7), 1);
    EXPECT_EQ(GetQueryState(7), 1);
    EXPECT_EQ(GetQueryResult(7), 0);
    // A second request while the first runs is refused and does not disturb it.
    EXPECT_EQ(ReqGetDBVersion(7), 0);
    ASSERT_TRUE(WaitUntilDone(GetQueryState, 7));
    EXPECT_EQ(GetQueryResult(7), 1);
    EXPECT_STREQ(GetVersionResult(7), "1.2.3");
    EXPECT_EQ(device.Received(), std::vector<std::string>{"rvfw\r"});
}

TEST_F(SessionTest, TwoRequestsInSequenceLeaveTheSecondResult) {
    device.Answer("rvfw\r", kOk);
    ASSERT_EQ(OpenDevice(kModel, 7), 1);
    ASSERT_EQ(ReqGetFWVersion(7), 1);
    ASSERT_TRUE(WaitUntilDone(GetQueryState, 7));
    EXPECT_EQ(GetQueryResult(7), 1);
    ASSERT_EQ(ReqGetDBVersion(7), 1);  // no answer scripted: fails after its time-out
    EXPECT_EQ(GetQueryResult(7), 0);
    ASSERT_TRUE(WaitUntilDone(GetQueryState, 7));
    EXPECT_EQ(GetQueryResult(7), 2);
    EXPECT_STREQ(GetVersionResult(7), "1.2.3");  // the earlier value stays
}

TEST_F(SessionTest, CloseUnderARunningCommandMakesItsReadFail) {
    ASSERT_EQ(OpenDevice(kModel, 7), 1);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(ReqGetSerialNumber(7), 1);                          // the device never answers
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // inside the read's wait
    EXPECT_EQ(CloseDevice(7), 1);
    std::string diagnostics = ::testing::internal::GetCapturedStdout();
    // The read ended because the port went away, not because its time-out ran out.
    EXPECT_EQ(diagnostics.find("Timeout"), std::string::npos) << diagnostics;
    EXPECT_NE(diagnostics.find("[CSerialPort::Read] Error"), std::string::npos) << diagnostics;
    EXPECT_EQ(IsDeviceOpened(7), 0);
    EXPECT_EQ(GetVersionResult(7), nullptr);
    // The port is free again.
    EXPECT_EQ(OpenDevice(kModel, 7), 1);
}

namespace {

class CountingCommand : public qv::CCommand {
public:
    explicit CountingCommand(CSerialPort* p, qv::CProgressInfo* g, const qv::ModelInfo* m,
                             int result)
        : CCommand(p, g, m), result_(result) {
        ++alive;
    }
    ~CountingCommand() override { --alive; }
    int Execute() override { return result_; }
    static inline std::atomic<int> alive{0};

private:
    int result_;
};

}  // namespace

TEST_F(SessionTest, AHandOverDestroysTheFinishedCommandOnly) {
    qv::DeviceTable table;
    ASSERT_TRUE(table.Open(kModel, 7));
    qv::CQv* session = table.Find(7);
    ASSERT_TRUE(session->PostCommand(session->MakeCommand<CountingCommand>(1)));
    for (int i = 0; i < 2000 && session->GetQueryState() != 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(session->GetQueryResult(), 1);
    EXPECT_EQ(CountingCommand::alive, 1);  // kept after it ran
    ASSERT_TRUE(session->PostCommand(session->MakeCommand<CountingCommand>(2)));
    for (int i = 0; i < 2000 && session->GetQueryState() != 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(session->GetQueryResult(), 2);
    EXPECT_EQ(CountingCommand::alive, 1);  // the first one went at the second hand-over
    table.Close(7);
    EXPECT_EQ(CountingCommand::alive, 0);
}

TEST(DeviceTableLifetime, DestroyingTheTableClosesEveryOpenPort) {
    ScriptedDevice a(21), b(22);
    setenv("QVLIB_PORT_DIR", a.line().dir().c_str(), 1);
    {
        qv::DeviceTable table;
        ASSERT_TRUE(table.Open(kModel, 21));
        ::testing::internal::CaptureStdout();
        qv::CQv* session = table.Find(21);
        ASSERT_TRUE(session->PostCommand(session->MakeCommand<qv::CGetVersion>(
            session->VersionText(), qv::kTextSize, "rvfw\r")));
        setenv("QVLIB_PORT_DIR", b.line().dir().c_str(), 1);
        ASSERT_TRUE(table.Open(kModel, 22));
    }  // unload: both sessions stop, the running command ends
    ::testing::internal::GetCapturedStdout();
    serial::CSerial check;
    EXPECT_EQ(check.Open(b.line().path().c_str()), 0);
    check.Close();
    EXPECT_EQ(check.Open(a.line().path().c_str()), 0);
}
