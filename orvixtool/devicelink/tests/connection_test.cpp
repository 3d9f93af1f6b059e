// Connection management, step by step: the page logic with fake controls and hand-fired timers,
// against the simulated device behind our PipeBridge.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "sim/usb/z31usb.h"

using namespace devod;
using namespace devod::testing;

namespace {

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { pages_.Initialise(); }
    void TearDown() override { EXPECT_TRUE(prompt_.unexpected.empty()); }

    // Runs the start-up connect: the 500 ms timer, then the 100 ms probe.
    void StartUp() {
        ASSERT_TRUE(timers_.IsRunning(CUpgradeDlgHttp::kTimerStartup));
        upgrade_->OnTimer(CUpgradeDlgHttp::kTimerStartup);
        ASSERT_TRUE(timers_.IsRunning(CUpgradeDlgHttp::kTimerProbe));
        upgrade_->OnTimer(CUpgradeDlgHttp::kTimerProbe);
        EXPECT_FALSE(timers_.IsRunning(CUpgradeDlgHttp::kTimerProbe));
    }
    bool Enabled(int id) const { return upgrade_controls_.IsEnabled(id); }
    void ExpectButtons(bool connect, bool disconnect, bool update) const {
        EXPECT_EQ(Enabled(CUpgradeDlgHttp::kIdConnect), connect);
        EXPECT_EQ(Enabled(CUpgradeDlgHttp::kIdDisconnect), disconnect);
        EXPECT_EQ(Enabled(CUpgradeDlgHttp::kIdUpdateDatabase), update);
    }
    bool SettingsDeviceControlsEnabled() const {
        for (int id : CUserSettingDlg::kDeviceControls) {
            if (!settings_controls_.IsEnabled(id)) return false;
        }
        return true;
    }

    ScopedTestClock clock_;
    SimulatedUsbDevice device_{"connect"};
    PagesHarness pages_;
    FakeControls& upgrade_controls_ = pages_.upgrade_controls;
    FakeControls& settings_controls_ = pages_.settings_controls;
    FakeTimers& timers_ = pages_.timers;
    ScriptedPrompt& prompt_ = pages_.prompt;
    FakeMainWindow& main_ = pages_.main;
    std::unique_ptr<CUpgradeDlgHttp>& upgrade_ = pages_.upgrade;
    std::unique_ptr<CUserSettingDlg>& settings_ = pages_.settings;
};

}  // namespace

TEST_F(ConnectionTest, StartUpFindsTheDeviceAndReadsItsSettings) {
    device_->SetSettingsRecord({0x00, 0x01, 0x00, 0x01, 0x89, 0x03});
    device_->SetUserSpeeds({30, 40, 50, 60, 255});
    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerStartup);
    // Finding: everything waits for the probe.
    EXPECT_EQ(main_.status, "Find the GPS");
    ExpectButtons(false, false, false);
    EXPECT_FALSE(settings_controls_.IsShown(CUserSettingDlg::kIdSummerOn));
    EXPECT_FALSE(SettingsDeviceControlsEnabled());

    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerProbe);
    EXPECT_EQ(pages_.connection.Kind(), kUsbConnection);
    EXPECT_EQ(main_.label, "USB");
    EXPECT_EQ(main_.status, "Connected");
    ExpectButtons(false, true, true);
    EXPECT_TRUE(SettingsDeviceControlsEnabled());
    EXPECT_TRUE(settings_controls_.IsShown(CUserSettingDlg::kIdSummerOn));
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "");
    EXPECT_EQ(prompt_.boxes[0].caption, "SUCCESS");
    // The settings record first, then the user speeds.
    auto frames = device_->ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (z31sim::Bytes{0x23, 0x01, 0x01}));
    EXPECT_EQ(frames[1], (z31sim::Bytes{0x23, 0x03, 0x01}));
    EXPECT_TRUE(settings_controls_.IsChecked(CUserSettingDlg::kIdKmh));
    EXPECT_EQ(settings_controls_.ComboText(
                  CUserSettingDlg::kIdTimeZone,
                  settings_controls_.ComboSelection(CUserSettingDlg::kIdTimeZone)),
              "-9 (Alaska)");
    EXPECT_EQ(settings_controls_.GetText(CUserSettingDlg::kIdUserSpeed5), "255");
}

TEST_F(ConnectionTest, AbsentDeviceEndsDisconnectedWithTheFailureMessage) {
    device_->SetAttached(false);
    StartUp();
    EXPECT_EQ(pages_.connection.Kind(), kNoConnection);
    EXPECT_EQ(main_.status, "Disconnect");
    EXPECT_EQ(main_.label, "");
    ExpectButtons(true, false, false);
    EXPECT_FALSE(SettingsDeviceControlsEnabled());
    EXPECT_FALSE(settings_controls_.IsShown(CUserSettingDlg::kIdSummerGroup));
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, CUpgradeDlgHttp::kConnectFailedText);
    EXPECT_EQ(prompt_.boxes[0].caption, "FAIL");
    EXPECT_EQ(upgrade_controls_.Progress(CUpgradeDlgHttp::kIdProgressConnect).Pos(), 0);
    // No second attempt on its own.
    EXPECT_TRUE(timers_.running.empty());
}

TEST_F(ConnectionTest, MissingPipeBridgeCountsAsNoDevice) {
    PipeBridge::SetLibraryPath("/nonexistent/libPipeBridge.so");
    StartUp();
    EXPECT_EQ(main_.status, "Disconnect");
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].caption, "FAIL");
    EXPECT_TRUE(device_->ReceivedFrames().empty());
}

TEST_F(ConnectionTest, DisconnectKeepsTheLabelAndReconnectRunsEverythingAgain) {
    StartUp();
    ASSERT_EQ(main_.status, "Connected");
    upgrade_->OnCommand(CUpgradeDlgHttp::kIdDisconnect);
    EXPECT_EQ(pages_.connection.Kind(), kNoConnection);
    EXPECT_EQ(main_.status, "Disconnect");
    EXPECT_EQ(main_.label, "USB");
    ExpectButtons(true, false, false);
    EXPECT_FALSE(SettingsDeviceControlsEnabled());

    upgrade_->OnCommand(CUpgradeDlgHttp::kIdConnect);
    EXPECT_EQ(main_.status, "Find the GPS");
    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerProbe);
    EXPECT_EQ(main_.status, "Connected");
    EXPECT_EQ(device_->ReceivedFrames().size(), 4u);  // both reads again
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[1].caption, "SUCCESS");
}

TEST_F(ConnectionTest, AnUnpluggedDeviceIsOnlyNoticedAtTheNextOperation) {
    StartUp();
    device_->SetAttached(false);
    EXPECT_EQ(main_.status, "Connected");
    // The next settings read finds the device gone; the pages end disconnected and usable.
    settings_->OnCommand(CUserSettingDlg::kIdModeRead);
    EXPECT_EQ(main_.status, "Disconnect");
    ExpectButtons(true, false, false);
}

TEST_F(ConnectionTest, ASettingsReadThatDropsTheNewConnectionTellsNoSuccess) {
    device_->SetPipeRefused(z31sim::Pipe::kIn, true);  // the device is there, its reply pipe not
    StartUp();
    EXPECT_EQ(pages_.connection.Kind(), kNoConnection);
    EXPECT_EQ(main_.status, "Disconnect");
    ExpectButtons(true, false, false);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(ConnectionTest, SettingsActionsBeforeAnyConnectionChangeNothing) {
    for (int id = 0; id < 5; ++id)
        settings_controls_.SetText(CUserSettingDlg::kIdUserSpeed1 + id, "50");
    for (int id : {1039, 1062, 1081, 1030, 1040, 1063, 1082, 1031, 1089}) settings_->OnCommand(id);
    EXPECT_TRUE(device_->ReceivedFrames().empty());
    EXPECT_EQ(main_.status, "");
    ExpectButtons(true, true, true);  // as the template has them until the first connect
    EXPECT_TRUE(SettingsDeviceControlsEnabled());
    EXPECT_TRUE(prompt_.boxes.empty());
    // After a disconnection, likewise.
    StartUp();
    upgrade_->OnDisconnect();
    const size_t frames = device_->ReceivedFrames().size();
    for (int id : {1039, 1040, 1031, 1089}) settings_->OnCommand(id);
    EXPECT_EQ(device_->ReceivedFrames().size(), frames);
    EXPECT_EQ(main_.status, "Disconnect");
    ExpectButtons(true, false, false);
}

TEST_F(ConnectionTest, ProgressBarsGetTheirColoursAtInitialisation) {
    const ProgressState& connect = upgrade_controls_.Progress(CUpgradeDlgHttp::kIdProgressConnect);
    EXPECT_FALSE(connect.ShowPercent());
    EXPECT_EQ(connect.Maximum(), 4);
    EXPECT_EQ(connect.BarColour(), 0x00FF6633u);
    EXPECT_EQ(connect.BkColour(), 0x00FFFFFFu);
    const ProgressState& write = upgrade_controls_.Progress(CUpgradeDlgHttp::kIdProgressWrite);
    EXPECT_TRUE(write.ShowPercent());
    EXPECT_EQ(write.TextColour(), 0x00FF6633u);
    EXPECT_EQ(write.TextBkColour(), 0x00FFFFFFu);
}
