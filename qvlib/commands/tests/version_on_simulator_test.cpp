// Version queries against the simulated Z31: the device in download mode, with its fault knobs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"
#include "sim/z31sim.h"

namespace {

class VersionOnSimulator : public ::testing::Test {
protected:
    static constexpr int kPort = 11;
    VersionOnSimulator() {
        setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
        config.port_number = kPort;
        config.nmea_baud = 115200;
        config.command_baud = 115200;
        config.start_mode = z31sim::Mode::Download;
    }
    void TearDown() override { CloseDevice(kPort); }
    void Start(const char* model = "Z40PRO") {
        device = std::make_unique<z31sim::Device>(dir.path(), config);
        ASSERT_EQ(OpenDevice(model, kPort), 1);
    }
    int Query(int (*request)(int)) {
        if (request(kPort) != 1) return -1;
        if (!WaitUntilDone(GetQueryState, kPort)) return -2;
        return GetQueryResult(kPort);
    }
    std::string Text() { return GetVersionResult(kPort); }

    z31sim::PortDir dir;
    z31sim::DeviceConfig config;
    std::unique_ptr<z31sim::Device> device;
};

}  // namespace

TEST_F(VersionOnSimulator, ReadsAllFiveValues) {
    Start();
    EXPECT_EQ(Query(ReqGetFWVersion), 1);
    EXPECT_EQ(Text(), config.fw_version);
    EXPECT_EQ(Query(ReqGetDBVersion), 1);
    EXPECT_EQ(Text(), config.db_version);
    EXPECT_EQ(Query(ReqGetVOCVersion), 1);
    EXPECT_EQ(Text(), config.voc_version);
    EXPECT_EQ(Query(ReqGetDeviceID), 1);
    EXPECT_EQ(Text(), config.device_id);
    EXPECT_EQ(Query(ReqGetSerialNumber), 1);
    EXPECT_EQ(Text(), config.serial_number);
}

TEST_F(VersionOnSimulator, RepliesWithNulBytesOrInPiecesStillCount) {
    Start();
    device->SetNulInReplies(true);
    EXPECT_EQ(Query(ReqGetFWVersion), 1);
    EXPECT_EQ(Text(), config.fw_version);
    device->SetNulInReplies(false);
    // Pieces that arrive while the host already drains are read with the first ones; later ones
    // are lost to this read, so the reply must still carry the value in time: keep the gaps
    // inside the 100 ms pause.
    device->SetSplitReply(3, 20);
    EXPECT_EQ(Query(ReqGetDBVersion), 1);
    EXPECT_EQ(Text(), config.db_version);
}

TEST_F(VersionOnSimulator, ASlowReplyWithinTheTimeOutCounts) {
    Start();
    device->SetReplyDelayMs(600);
    EXPECT_EQ(Query(ReqGetDeviceID), 1);
    EXPECT_EQ(Text(), config.device_id);
}

TEST_F(VersionOnSimulator, OddRepliesAreJudgedByTheirMarkers) {
    Start();
    device->SetRawReply("rvfw", "$first\r\nOK!\r\n$second\r\nQV>>");
    EXPECT_EQ(Query(ReqGetFWVersion), 1);
    EXPECT_EQ(Text(), "first");
    device->SetRawReply("rvdb", "\r\nOK!\r\nno dollar\r\nQV>>");
    EXPECT_EQ(Query(ReqGetDBVersion), 2);
    EXPECT_EQ(Text(), "first");
    device->SetRawReply("rvvo", "\r\nOK!$" + std::string(2000, '7') + "\r\nQV>>");
    EXPECT_EQ(Query(ReqGetVOCVersion), 1);
    EXPECT_EQ(Text(), std::string(1023, '7'));
}

TEST_F(VersionOnSimulator, AtTheWrongLineSpeedNothingIsHeard) {
    config.nmea_baud = 4800;  // the session opens at 4800, the device listens at 115200
    Start("Z31STD");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Query(ReqGetFWVersion), 2);
    ::testing::internal::GetCapturedStdout();
    EXPECT_GT(device->DroppedBytes(), 0u);
    EXPECT_TRUE(device->ReceivedCommands().empty());
}

TEST_F(VersionOnSimulator, HangUpMidSessionFailsTheQuery) {
    Start();
    ASSERT_EQ(Query(ReqGetFWVersion), 1);
    device->HangUp();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Query(ReqGetSerialNumber), 2);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Text(), config.fw_version);
    EXPECT_EQ(CloseDevice(kPort), 1);
}
