// Settings and user points end to end: the library on a pseudo-terminal with the simulated device
// behind it in download mode, in real time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"
#include "sim/z31sim.h"

namespace {

class SettingsOnSimulator : public ::testing::Test {
protected:
    static constexpr int kPort = 14;
    SettingsOnSimulator() {
        setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
        config.port_number = kPort;
        config.nmea_baud = 115200;
        config.command_baud = 115200;
        config.start_mode = z31sim::Mode::Download;
    }
    void TearDown() override { CloseDevice(kPort); }
    void Start() {
        device = std::make_unique<z31sim::Device>(dir.path(), config);
        ASSERT_EQ(OpenDevice("Z40PRO", kPort), 1);
    }
    int Run(int (*request)(int)) {
        if (request(kPort) != 1) return -1;
        if (!WaitUntilDone(GetQueryState, kPort, 30000)) return -2;
        return GetQueryResult(kPort);
    }

    z31sim::PortDir dir;
    z31sim::DeviceConfig config;
    std::unique_ptr<z31sim::Device> device;
};

UserPointEntry Entry(int i) {
    UserPointEntry e{};
    e.w0Bits0to3 = static_cast<uint16_t>(1 + i % 12);
    e.w0Bits4to9 = static_cast<uint16_t>(i % 61);
    e.w0Bits10to15 = static_cast<uint16_t>(i % 64);
    e.w1Bits0to1 = static_cast<uint16_t>(i % 4);
    e.w1Bits2to5 = static_cast<uint16_t>(i % 16);
    e.w1Bits6to10 = static_cast<uint16_t>(i % 32);
    e.w1Bits11to15 = static_cast<uint16_t>(i % 25);
    e.latitude = 3513820 - 70001 * i;
    e.longitude = -12000000 + 99991 * i;
    e.direction = static_cast<int16_t>(i * 3 - 150);
    e.word9 = static_cast<int16_t>(-i);
    e.word10 = static_cast<uint16_t>(0xF000 + i);
    return e;
}

}  // namespace

TEST_F(SettingsOnSimulator, SettingsTravelBothWays) {
    Start();
    ASSERT_EQ(Run(ReqGetUserSetting), 1);
    ASSERT_EQ(GetUserSpeedCount(kPort), 2u);  // the device's defaults
    EXPECT_EQ(GetUserSpeed(kPort, 1), 100);
    EXPECT_EQ(GetGMT(kPort, 0), -300);

    DeleteAllUserSpeeds(kPort);
    for (int v : {30, 50, 70, 90, 110, 130, 150}) AddUserSpeed(kPort, v);
    DeleteAllWarningBySeconds(kPort);
    AddWarningBySecond(kPort, 45);
    AddGMT(kPort, 330);
    AddSummerTime(kPort, 60);
    AddTimeSet(kPort, 0);
    DeleteAllSpeedUnit(kPort);
    AddSpeedUnit(kPort, 1);
    ASSERT_EQ(Run(ReqSetUserSetting), 1);
    EXPECT_EQ(device->StoredSettings(),
              (z31sim::Settings{30, 50, 70, 90, 110, 0xFFFF, 0xFFFF, 0xFFFF, 45, 330, 60, 0xFFFF,
                                0xFFFF, 0xFFFF, 0, 1}));

    for (auto clear : {DeleteAllUserSpeeds, DeleteAllGMT, DeleteAllTimeSet}) clear(kPort);
    ASSERT_EQ(Run(ReqGetUserSetting), 1);
    EXPECT_EQ(GetUserSpeedCount(kPort), 5u);  // only five travel
    EXPECT_EQ(GetUserSpeed(kPort, 4), 110);
    EXPECT_EQ(GetGMT(kPort, 0), 330);
    EXPECT_EQ(GetSummerTime(kPort, 0), 60);
    EXPECT_EQ(GetTimeSet(kPort, 0), 0);
    EXPECT_EQ(GetSpeedUnit(kPort, 0), 1);

    device->SetSettingsLineLength(81);
    EXPECT_EQ(Run(ReqGetUserSetting), 2);
    EXPECT_EQ(GetGMT(kPort, 0), 330);  // left as it was
}

TEST_F(SettingsOnSimulator, OneHundredUserPointsRoundTripFieldByField) {
    Start();
    for (int i = 0; i < 100; ++i) {
        UserPointEntry e = Entry(i);
        ASSERT_EQ(AddUserDB(kPort, &e), 1);
    }
    ASSERT_EQ(Run(ReqSetUserDB), 1);
    EXPECT_EQ(device->StoredUserPoints().size(), 100u);

    DeleteAllUserDBs(kPort);
    device->SetInvalidUserPoints(7);  // thrown away by the read
    ASSERT_EQ(Run(ReqGetUserDB), 1);
    ASSERT_EQ(GetUserDBCount(kPort), 100u);
    for (int i = 0; i < 100; ++i) {
        const UserPointEntry want = Entry(i);
        UserPointEntry got{};
        ASSERT_EQ(GetUserDB(kPort, i, &got), 1);
        EXPECT_EQ(got.w0Bits0to3, want.w0Bits0to3) << i;
        EXPECT_EQ(got.w0Bits4to9, want.w0Bits4to9) << i;
        EXPECT_EQ(got.w0Bits10to15, want.w0Bits10to15) << i;
        EXPECT_EQ(got.w1Bits0to1, want.w1Bits0to1) << i;
        EXPECT_EQ(got.w1Bits2to5, want.w1Bits2to5) << i;
        EXPECT_EQ(got.w1Bits6to10, want.w1Bits6to10) << i;
        EXPECT_EQ(got.w1Bits11to15, want.w1Bits11to15) << i;
        EXPECT_EQ(got.word2, 0) << i;  // written as zero
        EXPECT_EQ(got.latitude, want.latitude) << i;
        EXPECT_EQ(got.word5, 0) << i;
        EXPECT_EQ(got.longitude, want.longitude) << i;
        EXPECT_EQ(got.direction, want.direction) << i;
        EXPECT_EQ(got.word9, want.word9) << i;
        EXPECT_EQ(got.word10, want.word10) << i;
    }

    device->SetUserPointReplyCut(true);
    EXPECT_EQ(Run(ReqGetUserDB), 2);
    EXPECT_EQ(GetUserDBCount(kPort), 0u);
}

TEST_F(SettingsOnSimulator, ALargeDatabaseArrivesWholeAtTheLineSpeed) {
    config.user_points = z31sim::SampleUserPoints(300);  // some 1.6 s on the wire at 115200
    Start();
    ASSERT_EQ(Run(ReqGetUserDB), 1);
    EXPECT_EQ(GetUserDBCount(kPort), 300u);
}
