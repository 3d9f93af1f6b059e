// The UserSetting page wired as the program wires it: with the Upgrade page and a main window,
// all on fakes, and a clock whose pauses take no time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "qvlib/util/clock.h"

namespace devod::testing {

class NoSleepClock : public util::Clock {
public:
    uint64_t NowMs() override { return now_ms; }
    void SleepMs(uint32_t ms) override {
        sleeps.push_back(ms);
        now_ms += ms;
    }
    uint64_t now_ms = 0;
    std::vector<uint32_t> sleeps;
};

class PageTest : public ::testing::Test {
protected:
    PageTest() { upgrade_.SetMainWindow(&main_); }
    void SetUp() override {
        util::InstallClock(&clock_);
        page_.OnInitDialog();
    }
    void TearDown() override {
        util::InstallClock(nullptr);
        EXPECT_TRUE(prompt_.unexpected.empty()) << prompt_.unexpected.front();
    }

    // The program's state once the Upgrade page found the device.
    void Connect() {
        connection_.SetKind(kUsbConnection);
        upgrade_.EnterState(CUpgradeDlgHttp::State::Connected);
    }
    bool AllDeviceControls(bool enabled) const {
        for (int id : CUserSettingDlg::kDeviceControls) {
            if (controls_.IsEnabled(id) != enabled) return false;
        }
        return true;
    }
    bool SummerShown(bool shown) const {
        return controls_.IsShown(1009) == shown && controls_.IsShown(1000) == shown &&
               controls_.IsShown(1001) == shown;
    }
    // Connect, disconnect and update buttons of the Upgrade page.
    std::vector<bool> UpgradeButtons() const {
        return {upgrade_controls_.IsEnabled(CUpgradeDlgHttp::kIdConnect),
                upgrade_controls_.IsEnabled(CUpgradeDlgHttp::kIdDisconnect),
                upgrade_controls_.IsEnabled(CUpgradeDlgHttp::kIdUpdateDatabase)};
    }
    void SetSummerRadios(bool on, bool off) {
        controls_.SetCheck(1000, on);
        controls_.SetCheck(1001, off);
    }
    int Selected(int id) const { return controls_.ComboSelection(id); }
    std::string SelectedText(int id) const { return controls_.ComboText(id, Selected(id)); }

    NoSleepClock clock_;
    FakeControls controls_;
    FakeControls upgrade_controls_;
    FakeTimers timers_;
    ScriptedPrompt prompt_;
    FakeMainWindow main_;
    ConnectionModel connection_;
    CUpgradeDlgHttp upgrade_{upgrade_controls_, timers_, prompt_, prompt_, connection_};
    CUserSettingDlg page_{controls_, prompt_, connection_};
};

}  // namespace devod::testing
