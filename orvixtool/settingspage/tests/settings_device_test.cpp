// Reading and writing the settings record and the user speeds on the simulated device.
#include "orvixtool/settingspage/tests/device_fixture.h"

namespace devod::testing {
namespace {

using z31sim::Bytes;

class SettingsReadTest : public DevicePageTest {
protected:
    void Read(z31sim::SettingsRecordBytes record) {
        device_->SetSettingsRecord(record);
        page_.OnCommand(1039);
    }
    // Turns summer time on the way the owner does: the radio, then Save.
    void SaveSummerTimeOn() {
        SetSummerRadios(true, false);
        page_.OnCommand(1063);
        Frames(1);  // the device has taken the save before the test sets its record
        device_->ClearReceived();
        prompt_.boxes.clear();
    }
};

TEST_F(SettingsReadTest, ReplyIsShownWithSummerTimeOff) {
    Read({0x00, 0x01, 0x00, 0x01, 0x89, 0x03});
    EXPECT_EQ(Frames(1), (std::vector<Bytes>{{0x23, 0x01, 0x01}}));
    EXPECT_EQ(page_.SettingsBlock(), (std::array<uint8_t, 6>{0x00, 0x01, 0x00, 0x01, 0x89, 0x03}));
    EXPECT_TRUE(controls_.IsChecked(1078));
    EXPECT_FALSE(controls_.IsChecked(1080));
    EXPECT_EQ(controls_.GetText(1036), "80 Km/h");
    EXPECT_EQ(controls_.GetText(1037), "120 Km/h");
    EXPECT_EQ(SelectedText(1002), "Display 12H");
    EXPECT_EQ(SelectedText(1060), "-9 (Alaska)");
    EXPECT_EQ(SelectedText(1038), "20s");
    EXPECT_EQ(controls_.GetText(1034), "Distance : 440 m");
    EXPECT_EQ(controls_.GetText(1035), "Distance : 660 m");
    EXPECT_EQ(clock_.sleeps, (std::vector<uint32_t>{300}));
    EXPECT_TRUE(prompt_.boxes.empty());
    ExpectPagesConnected();
    const auto opens = device_->Opens();
    EXPECT_EQ(opens.probes, 1u);
    EXPECT_EQ(opens.pipe_out, 1u);
    EXPECT_EQ(opens.pipe_in, 1u);
}

TEST_F(SettingsReadTest, SummerTimeOnTakesAnHourOff) {
    SaveSummerTimeOn();
    Read({0x00, 0x01, 0x00, 0x01, 0x89, 0x03});
    EXPECT_EQ(SelectedText(1060), "-10 (Hawaii,Tahiti)");
}

TEST_F(SettingsReadTest, MphAnd24HourClock) {
    Read({0x00, 0x00, 0x00, 0x00, 0x00, 0x05});
    EXPECT_TRUE(controls_.IsChecked(1080));
    EXPECT_FALSE(controls_.IsChecked(1078));
    EXPECT_EQ(controls_.GetText(1036), "50 mph");
    EXPECT_EQ(SelectedText(1002), "Display 24H");
    EXPECT_EQ(SelectedText(1060), "0 (London,Lisbon)");
    EXPECT_EQ(SelectedText(1038), "30s");
}

TEST_F(SettingsReadTest, UnknownWarningModeShowsTheDistanceWarning) {
    Read({0x00, 0x01, 0x00, 0x01, 0x89, 0x09});
    EXPECT_EQ(Selected(1038), 0);
    EXPECT_EQ(controls_.GetText(1034), "Distance : 600 m");
}

TEST_F(SettingsReadTest, UnknownOffsetLeavesTheTimeZone) {
    controls_.ComboSelect(1060, 3);
    Read({0x00, 0x01, 0x00, 0x01, 0x7F, 0x03});
    EXPECT_EQ(Selected(1060), 3);
    EXPECT_EQ(SelectedText(1038), "20s");  // the rest is shown
}

TEST_F(SettingsReadTest, ShortReplyChangesNothing) {
    device_->SetShortReplies(5);
    Read({0x07, 0x01, 0x07, 0x01, 0x89, 0x03});
    EXPECT_EQ(page_.SettingsBlock(), (std::array<uint8_t, 6>{}));
    EXPECT_FALSE(controls_.IsChecked(1078));
    EXPECT_EQ(Selected(1038), 0);
    ExpectPagesConnected();
}

TEST_F(SettingsReadTest, SilentDeviceChangesNothing) {
    ShortReplyTimeout();
    for (auto fault : {z31sim::ReadFault::kNoReply, z31sim::ReadFault::kClosePipe}) {
        device_->SetReadFault(fault);
        Read({0x07, 0x01, 0x07, 0x01, 0x89, 0x03});
        EXPECT_EQ(page_.SettingsBlock(), (std::array<uint8_t, 6>{}));
        EXPECT_TRUE(prompt_.boxes.empty());
        ExpectPagesConnected();
    }
}

TEST_F(SettingsReadTest, UnpluggedDeviceDisconnectsAndCanBeConnectedAgain) {
    device_->SetAttached(false);
    page_.OnCommand(1081);
    ExpectDisconnected();
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_TRUE(device_->ReceivedFrames().empty());

    device_->SetAttached(true);
    Connect();
    Read({0x00, 0x01, 0x00, 0x01, 0x89, 0x03});
    EXPECT_EQ(SelectedText(1060), "-9 (Alaska)");
    ExpectPagesConnected();
}

TEST_F(SettingsReadTest, RefusedInputPipeDisconnects) {
    device_->SetPipeRefused(z31sim::Pipe::kIn, true);
    page_.OnCommand(1062);
    ExpectDisconnected();
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(DevicePageTest, UserSpeedsAreReadIntoTheFields) {
    device_->SetUserSpeeds({10, 0, 255, 7, 99});
    page_.OnCommand(1030);
    EXPECT_EQ(Frames(1), (std::vector<Bytes>{{0x23, 0x03, 0x01}}));
    EXPECT_EQ(page_.UserSpeeds(), (std::array<uint8_t, 5>{10, 0, 255, 7, 99}));
    const std::vector<std::string> fields = {"10", "0", "255", "7", "99"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(controls_.GetText(1020 + i), fields[i]);
    EXPECT_TRUE(prompt_.boxes.empty());
    ExpectPagesConnected();
}

class SettingsWriteTest : public DevicePageTest {
protected:
    void SetUp() override {
        DevicePageTest::SetUp();
        // Bytes 0 and 2 as the device has them; byte 2 never goes back.
        device_->SetSettingsRecord({0xAA, 0x01, 0xBB, 0x01, 0x89, 0x03});
        page_.OnCommand(1039);
        device_->ClearReceived();
        // During the completion box both pages are still busy.
        prompt_.while_open = [this] {
            EXPECT_EQ(UpgradeButtons(), (std::vector<bool>{false, false, false}));
            EXPECT_TRUE(AllDeviceControls(false));
        };
    }
    void ExpectSaved(const Bytes& frame) {
        EXPECT_EQ(Frames(1), std::vector<Bytes>{frame});
        ASSERT_EQ(prompt_.boxes.size(), 1u);
        EXPECT_EQ(prompt_.boxes[0].text, "Save User Setting : Complete!");
        EXPECT_EQ(prompt_.boxes[0].caption, "DevodTool");
        EXPECT_EQ(prompt_.boxes[0].style, kMbOk);
        ExpectPagesConnected();
    }
};

TEST_F(SettingsWriteTest, WarningModeSave) {
    controls_.ComboSelect(1038, 4);
    page_.OnCommand(1040);
    ExpectSaved(WriteFrame(1, {0xAA, 0x01, 0x00, 0x01, 0x89, 0x04}));
    EXPECT_EQ(device_->Opens().probes, 1u);  // only the read probed
}

TEST_F(SettingsWriteTest, LocalTimeWithSummerTimeOnAddsAnHour) {
    SetSummerRadios(true, false);
    controls_.ComboSelect(1060, 3);
    ASSERT_EQ(SelectedText(1060), "9 (Seoul,Tokyo,Pyongyang)");
    controls_.ComboSelect(1002, 1);
    page_.OnCommand(1063);
    ExpectSaved(WriteFrame(1, {0xAA, 0x01, 0x00, 0x00, 0x0A, 0x03}));
    EXPECT_EQ(page_.SummerTimeChoice(), 0);
    EXPECT_TRUE(controls_.IsChecked(1000));
}

TEST_F(SettingsWriteTest, LocalTimeWithSummerTimeOffWestOfLondon) {
    controls_.ComboSelect(1060, 17);
    ASSERT_EQ(SelectedText(1060), "-5 (New York,Washington,Miami,Ottawa)");
    controls_.ComboSelect(1002, 0);
    page_.OnCommand(1063);
    ExpectSaved(WriteFrame(1, {0xAA, 0x01, 0x00, 0x01, 0x85, 0x03}));
}

TEST_F(SettingsWriteTest, LocalTimeWithoutZoneOrSummerChoice) {
    SetSummerRadios(false, false);
    controls_.ComboSelect(1060, -1);
    page_.OnCommand(1063);
    ExpectSaved(WriteFrame(1, {0xAA, 0x01, 0x00, 0x01, 0x00, 0x03}));
    EXPECT_EQ(page_.SummerTimeChoice(), -1);
    EXPECT_FALSE(controls_.IsChecked(1000));  // "neither" is shown again after the save
    EXPECT_FALSE(controls_.IsChecked(1001));
}

TEST_F(SettingsWriteTest, SpeedUnitSave) {
    controls_.SetCheck(1078, false);
    controls_.SetCheck(1080, true);
    page_.OnCommand(1082);
    ExpectSaved(WriteFrame(1, {0xAA, 0x00, 0x00, 0x01, 0x89, 0x03}));
}

TEST_F(SettingsWriteTest, SpeedUnitWithNeitherRadioIsKmh) {
    device_->SetSettingsRecord({0xAA, 0x00, 0xBB, 0x01, 0x89, 0x03});
    page_.OnCommand(1039);
    device_->ClearReceived();
    controls_.SetCheck(1078, false);
    controls_.SetCheck(1080, false);
    page_.OnCommand(1082);
    ExpectSaved(WriteFrame(1, {0xAA, 0x01, 0x00, 0x01, 0x89, 0x03}));
}

TEST_F(SettingsWriteTest, RefusedOutputPipeDisconnectsWithoutABox) {
    device_->SetWritesUnplugged(true);
    page_.OnCommand(1040);
    ExpectDisconnected();
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(DevicePageTest, UserSpeedWriteTakesTheLowEightBits) {
    const std::vector<std::string> fields = {"30", "255", "0", "300", "-1"};
    for (int i = 0; i < 5; ++i) controls_.SetText(1020 + i, fields[i]);
    page_.OnCommand(1031);
    EXPECT_EQ(Frames(1), std::vector<Bytes>{WriteFrame(3, {30, 255, 0, 44, 255})});
    EXPECT_EQ(device_->UserSpeeds(), (z31sim::UserSpeedBytes{30, 255, 0, 44, 255}));
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Save User Speed : Complete!");
    EXPECT_EQ(prompt_.boxes[0].caption, "DevodTool");
    ExpectPagesConnected();
}

// An empty field is no speed: the owner is told which one, and the device keeps all five.
TEST_F(DevicePageTest, AnEmptyUserSpeedFieldIsNamedAndNothingIsWritten) {
    device_->SetUserSpeeds({50, 60, 70, 80, 90});
    const std::vector<std::string> fields = {"30", "40", "", "60", " "};
    for (int i = 0; i < 5; ++i) controls_.SetText(1020 + i, fields[i]);
    page_.OnCommand(1031);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text,
              "Error: User speed 3 is empty.\nPlease enter a value from 0 to 255.");
    EXPECT_EQ(prompt_.boxes[0].caption, "DevodTool");
    EXPECT_EQ(controls_.focus(), 1022);
    EXPECT_TRUE(device_->ReceivedFrames().empty());
    EXPECT_EQ(device_->UserSpeeds(), (z31sim::UserSpeedBytes{50, 60, 70, 80, 90}));
    EXPECT_EQ(page_.UserSpeeds(), (std::array<uint8_t, 5>{}));
    ExpectPagesConnected();
}

}  // namespace
}  // namespace devod::testing
