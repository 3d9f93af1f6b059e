// Both pages' logic on fake controls, wired to a fake main window the way the program wires its
// windows, plus a clock whose pauses cost nothing (or one real millisecond each, when a test needs
// a write to stay running for a while).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "qvlib/util/clock.h"

namespace devod::testing {

class TestClock : public util::Clock {
public:
    uint64_t NowMs() override { return now_ += 1; }
    void SleepMs(uint32_t ms) override {
        now_ += ms;
        if (real_pauses) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::atomic<bool> real_pauses{false};

private:
    std::atomic<uint64_t> now_{0};
};

// Installs a TestClock for its lifetime.
class ScopedTestClock {
public:
    ScopedTestClock() { util::InstallClock(&clock); }
    ~ScopedTestClock() { util::InstallClock(nullptr); }
    TestClock clock;
};

struct PagesHarness {
    // The pages are made in the program's order: the Upgrade page first, so that it shows a change
    // of the connection before the settings page does.
    PagesHarness() {
        upgrade =
            std::make_unique<CUpgradeDlgHttp>(upgrade_controls, timers, prompt, prompt, connection);
        settings = std::make_unique<CUserSettingDlg>(settings_controls, prompt, connection);
    }
    // Runs both pages' initialisation and gives the Upgrade page the main window, as the program
    // does.
    void Initialise() {
        upgrade->OnInitDialog();
        settings->OnInitDialog();
        upgrade->SetMainWindow(&main);
    }

    FakeControls upgrade_controls;
    FakeControls settings_controls;
    FakeTimers timers;
    ScriptedPrompt prompt;
    FakeMainWindow main;
    ConnectionModel connection;
    std::unique_ptr<CUpgradeDlgHttp> upgrade;
    std::unique_ptr<CUserSettingDlg> settings;
};

}  // namespace devod::testing
