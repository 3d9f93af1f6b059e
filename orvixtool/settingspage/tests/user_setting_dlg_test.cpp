// The page without a device: its controls, the field check, the connection states, and the
// device operations when PipeBridge cannot be loaded.
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/settingspage/tests/page_fixture.h"

namespace devod::testing {
namespace {

using SettingsPageTest = PageTest;

TEST_F(SettingsPageTest, InitialisationSetsUpBarsAndBoxes) {
    for (int bar : {1034, 1035}) {
        ProgressState& p = controls_.Progress(bar);
        EXPECT_FALSE(p.ShowPercent()) << bar;
        EXPECT_EQ(p.BkColour(), 0x00FF6633u);
        EXPECT_EQ(p.BarColour(), 0x00FFFFFFu);
        EXPECT_EQ(p.TextBkColour(), 0x00FF6633u);
        EXPECT_EQ(p.TextColour(), 0x00FFFFFFu);
        EXPECT_EQ(p.Minimum(), 0);
        EXPECT_EQ(p.Maximum(), 1000);
        EXPECT_EQ(p.Pos(), 400);
        EXPECT_EQ(controls_.GetText(bar), "Distance : 600 m");
    }
    ASSERT_EQ(controls_.ComboCount(1038), 6);
    EXPECT_EQ(controls_.ComboText(1038, 0), "Disable(Warning in meter(600)");
    EXPECT_EQ(controls_.ComboText(1038, 5), "30s");
    EXPECT_EQ(Selected(1038), 0);
    EXPECT_FALSE(controls_.IsChecked(1078));
    EXPECT_FALSE(controls_.IsChecked(1080));
    ASSERT_EQ(controls_.ComboCount(1002), 2);
    EXPECT_EQ(SelectedText(1002), "Display 12H");
    ASSERT_EQ(controls_.ComboCount(1060), 25);
    EXPECT_EQ(SelectedText(1060), "Default(DB zone Time)");
    EXPECT_EQ(controls_.ComboText(1060, 24), "-11 (Samoa,Midway)");
    EXPECT_EQ(page_.SummerTimeChoice(), 1);
    // The radios show that choice from the start, before any connection.
    EXPECT_FALSE(controls_.IsChecked(1000));
    EXPECT_TRUE(controls_.IsChecked(1001));
}

TEST_F(SettingsPageTest, InitialisingAgainDoesNotRepeatItems) {
    page_.OnInitDialog();
    EXPECT_EQ(controls_.ComboCount(1038), 6);
    EXPECT_EQ(controls_.ComboCount(1002), 2);
    EXPECT_EQ(controls_.ComboCount(1060), 25);
}

TEST_F(SettingsPageTest, WarningModeMovesBothBars) {
    struct Case {
        int mode;
        int first;
        int second;
    };
    for (Case c : {Case{0, 600, 600}, Case{1, 220, 330}, Case{4, 550, 825}, Case{5, 660, 990}}) {
        controls_.ComboSelect(1038, c.mode);
        page_.OnCommand(1038);
        EXPECT_EQ(controls_.GetText(1034), "Distance : " + std::to_string(c.first) + " m");
        EXPECT_EQ(controls_.GetText(1035), "Distance : " + std::to_string(c.second) + " m");
        EXPECT_EQ(controls_.Progress(1034).Pos(), 1000 - c.first);
        EXPECT_EQ(controls_.Progress(1035).Pos(), 1000 - c.second);
    }
}

TEST_F(SettingsPageTest, NoWarningModeSelectedLeavesTheBars) {
    controls_.ComboSelect(1038, 4);
    page_.UpdateDistances();
    controls_.ComboSelect(1038, -1);
    page_.UpdateDistances();
    EXPECT_EQ(controls_.GetText(1034), "Distance : 550 m");
    EXPECT_EQ(controls_.Progress(1035).Pos(), 175);
}

TEST_F(SettingsPageTest, UnitLabelsFollowTheMphRadio) {
    controls_.SetCheck(1080, true);
    page_.OnCommand(1080);
    EXPECT_EQ(controls_.GetText(1036), "50 mph");
    EXPECT_EQ(controls_.GetText(1037), "74.5 mph");
    controls_.SetCheck(1080, false);
    controls_.SetCheck(1078, true);
    page_.OnCommand(1078);
    EXPECT_EQ(controls_.GetText(1036), "80 Km/h");
    EXPECT_EQ(controls_.GetText(1037), "120 Km/h");
}

class SpeedFieldCheck : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        controls_.on_text_changed = [this](int id) { page_.OnTextChanged(id); };
    }
};

TEST_F(SpeedFieldCheck, AboveTwoFiftyFiveIsRefusedAndEmptied) {
    connection_.SetKind(kUsbConnection);
    controls_.SetText(1022, "256");
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Error: Please enter a value less than 255");
    EXPECT_EQ(prompt_.boxes[0].caption, "DevodTool");
    EXPECT_EQ(prompt_.boxes[0].style, kMbOk);
    EXPECT_EQ(controls_.GetText(1022), "");
    EXPECT_EQ(controls_.focus(), 1022);
}

TEST_F(SpeedFieldCheck, TwoFiftyFiveAndEmptyAreAccepted) {
    connection_.SetKind(kUsbConnection);
    controls_.SetText(1020, "255");
    controls_.SetText(1024, "");
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_EQ(controls_.GetText(1020), "255");
}

TEST_F(SpeedFieldCheck, OverflowingNumberIsRefused) {
    connection_.SetKind(kUsbConnection);
    controls_.SetText(1024, "99999999999999999999999");
    EXPECT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(controls_.GetText(1024), "");
}

TEST_F(SpeedFieldCheck, NotCheckedWithoutAUsbDevice) {
    controls_.SetText(1021, "999");
    connection_.SetKind(kSerialConnection);
    controls_.SetText(1021, "998");
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_EQ(controls_.GetText(1021), "998");
    connection_.SetKind(kUsbConnection);
    controls_.SetText(1025, "999");  // not a speed field
    EXPECT_TRUE(prompt_.boxes.empty());
}

using ConnectionStateTest = PageTest;

TEST_F(ConnectionStateTest, FindingHidesSummerTimeAndDisables) {
    page_.ApplyConnectionState(1);
    EXPECT_TRUE(SummerShown(false));
    EXPECT_TRUE(AllDeviceControls(false));
    EXPECT_FALSE(controls_.IsChecked(1000));
    EXPECT_TRUE(controls_.IsChecked(1001));  // the choice "Off" of a new page
    EXPECT_EQ(controls_.ComboCount(1060), 25);
}

TEST_F(ConnectionStateTest, ConnectedDropsTheDatabaseZoneForGood) {
    page_.ApplyConnectionState(2);
    EXPECT_TRUE(SummerShown(true));
    EXPECT_TRUE(AllDeviceControls(true));
    ASSERT_EQ(controls_.ComboCount(1060), 24);
    EXPECT_EQ(controls_.ComboText(1060, 0), "12 (Fiji,Wellington,Auckland)");
    page_.ApplyConnectionState(1);
    page_.ApplyConnectionState(2);
    EXPECT_EQ(controls_.ComboCount(1060), 24);
    EXPECT_EQ(controls_.ComboText(1060, 0), "12 (Fiji,Wellington,Auckland)");
}

TEST_F(ConnectionStateTest, RadiosAreResetToTheSavedChoice) {
    page_.ApplyConnectionState(2);
    SetSummerRadios(true, false);  // clicked, not saved
    page_.ApplyConnectionState(2);
    EXPECT_FALSE(controls_.IsChecked(1000));
    EXPECT_TRUE(controls_.IsChecked(1001));
}

TEST_F(ConnectionStateTest, DisconnectedAndUpdating) {
    page_.ApplyConnectionState(2);
    page_.ShowUpdating();
    EXPECT_TRUE(SummerShown(true));
    EXPECT_TRUE(AllDeviceControls(false));
    page_.ApplyConnectionState(2);
    page_.ShowDisconnected();
    EXPECT_TRUE(SummerShown(false));
    EXPECT_TRUE(AllDeviceControls(false));
}

TEST_F(ConnectionStateTest, UnknownStateChangesNothing) {
    page_.ApplyConnectionState(2);
    page_.ApplyConnectionState(7);
    EXPECT_TRUE(SummerShown(true));
    EXPECT_TRUE(AllDeviceControls(true));
}

// With no PipeBridge to load, every device operation ends before it changes anything.
class NoPipeBridge : public PageTest {
protected:
    void SetUp() override {
        PipeBridge::SetLibraryPath("/nonexistent/libPipeBridge.so");
        PageTest::SetUp();
        ASSERT_FALSE(PipeBridge().IsLoaded()) << "a libPipeBridge.so is installed on this machine";
        Connect();
        main_.status = "before";
    }
    void TearDown() override {
        EXPECT_TRUE(prompt_.boxes.empty());
        EXPECT_TRUE(prompt_.file_requests.empty());
        EXPECT_EQ(main_.status, "before");
        EXPECT_TRUE(AllDeviceControls(true));
        EXPECT_EQ(UpgradeButtons(), (std::vector<bool>{false, true, true}));
        EXPECT_TRUE(clock_.sleeps.empty());
        PipeBridge::SetLibraryPath("");
        PageTest::TearDown();
    }
};

TEST_F(NoPipeBridge, ReadsLeaveThePage) {
    controls_.SetText(1020, "12");
    page_.OnCommand(1039);
    page_.OnCommand(1030);
    EXPECT_EQ(page_.SettingsBlock(), (std::array<uint8_t, 6>{}));
    EXPECT_EQ(controls_.GetText(1020), "12");
    EXPECT_EQ(Selected(1038), 0);
}

TEST_F(NoPipeBridge, SavesAndExportSayNothing) {
    for (int i = 0; i < 5; ++i) controls_.SetText(1020 + i, "50");
    for (int id : {1040, 1063, 1082, 1031, 1089}) page_.OnCommand(id);
}

}  // namespace
}  // namespace devod::testing
