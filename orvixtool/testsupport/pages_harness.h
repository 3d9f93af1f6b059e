// Both pages' logic on fake controls, wired to a fake main window the way the program wires its
// windows, plus the shared test clock whose pauses cost nothing (or one real millisecond each,
// when a test needs a write to stay running for a while).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "qvlib/util/clock.h"
#include "qvlib/util/testsupport/test_clock.h"

namespace devod::testing {

// The shared test clock, under the names these tests have always used.
using util::testing::ScopedTestClock;
using util::testing::TestClock;

struct PagesHarness {
    // The pages are made in the program's order: the Upgrade page first, so that it shows a change
    // of the connection before the settings page does.
    // With `qv`, the Upgrade page also looks for the device on the serial ports through it.
    explicit PagesHarness(IQvLink* qv = nullptr) {
        upgrade = std::make_unique<CUpgradeDlgHttp>(upgrade_controls, timers, prompt, prompt,
                                                    connection, qv);
        settings = std::make_unique<CUserSettingDlg>(settings_controls, prompt, connection, qv);
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
