// The Upgrade page with a serial link beside USB, against a scripted QVLib: the search after a USB
// probe that finds nothing, the connection it makes, what the owner is shown, and how the port is
// given back.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "orvixtool/config/settings.h"
#include "orvixtool/devicelink/serial_backup.h"
#include "orvixtool/settingspage/serial_settings.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/scripted_qv_link.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/test_env.h"
#include "sim/shop/z31shop.h"

using namespace devod;
using namespace devod::testing;

namespace {

using Reply = ScriptedQvLink::Reply;

class SerialConnectTest : public ::testing::Test {
protected:
    SerialConnectTest() {
        shop_.SetStatus(z31sim::kLoginPath, 500);
        pages_.Initialise();
    }
    void TearDown() override { EXPECT_TRUE(prompt_.unexpected.empty()); }

    // Fires the page's running timers, as the window would, until none of `ids` runs.
    void RunTimers(std::initializer_list<unsigned> ids, int limit = 1000) {
        for (int i = 0; i < limit; ++i) {
            bool any = false;
            for (unsigned id : ids) {
                if (pages_.timers.IsRunning(id)) {
                    upgrade_->OnTimer(id);
                    any = true;
                }
            }
            if (!any) return;
        }
        ADD_FAILURE() << "timers still running";
    }
    void StartUp() {
        upgrade_->OnTimer(CUpgradeDlgHttp::kTimerStartup);
        upgrade_->OnTimer(CUpgradeDlgHttp::kTimerProbe);
        RunTimers({CUpgradeDlgHttp::kTimerSerialSearch, CUpgradeDlgHttp::kTimerSerialInfo});
    }
    // The update button with the shop out of reach, and a file picked on the PC instead.
    void StartUpdateByHand(const std::string& path) {
        prompt_.boxes.clear();
        prompt_.AnswerLogin(LoginInput{"owner@example.com", "secret"});
        prompt_.AnswerBox(kIdYes);  // "Cannot connect to server ... update manually?"
        prompt_.AnswerFile(path);
        prompt_.AnswerBox(kIdYes);  // "Are you sure?"
        upgrade_->OnCommand(CUpgradeDlgHttp::kIdUpdateDatabase);
    }
    std::vector<std::string> Searches() const {
        std::vector<std::string> s;
        for (const auto& c : qv_.calls) {
            if (c.rfind("ReqFindDevice", 0) == 0) s.push_back(c.substr(14));
        }
        return s;
    }

    webtest::ConfigHome home_;
    webtest::TempDir data_;
    webtest::ScopedEnv data_home_{"XDG_DATA_HOME", data_.path()};
    // A shop whose login answers nonsense: the owner is offered a file on the PC.
    z31sim::Shop shop_;
    webtest::ScopedEnv web_host_{"DEVOD_WEB_HOST", "127.0.0.1"};
    webtest::ScopedEnv web_port_{"DEVOD_WEB_PORT", std::to_string(shop_.Port())};
    ScriptedQvLink qv_;
    PagesHarness pages_{&qv_};
    ScriptedPrompt& prompt_ = pages_.prompt;
    FakeMainWindow& main_ = pages_.main;
    std::unique_ptr<CUpgradeDlgHttp>& upgrade_ = pages_.upgrade;
};

TEST_F(SerialConnectTest, WithoutUsbTheSerialSearchConnectsTheFirstPortFoundAndShowsTheDevice) {
    qv_.Script("ReqFindDevice Z31STD", {{.polls = 3, .found = {6, 9}}});
    qv_.Script("ReqGetFWVersion", {{.text = "7.3.11122"}});
    qv_.Script("ReqGetDBVersion", {{.text = "2031.02.7"}});
    qv_.Script("ReqGetSerialNumber", {{.text = "Z31A0012345"}});
    std::vector<std::string> statuses;
    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerStartup);
    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerProbe);
    EXPECT_EQ(main_.status, "Searching the serial ports for Z21PRO");
    // The window keeps running: the search is polled from a timer.
    EXPECT_TRUE(pages_.timers.IsRunning(CUpgradeDlgHttp::kTimerSerialSearch));
    RunTimers({CUpgradeDlgHttp::kTimerSerialSearch, CUpgradeDlgHttp::kTimerSerialInfo});

    // Every model of the table in turn until one is found, then its first port.
    EXPECT_EQ(Searches(), (std::vector<std::string>{"Z21PRO", "Z31STD"}));
    EXPECT_EQ(qv_.opened, (std::vector<std::pair<std::string, int>>{{"Z31STD", 6}}));
    EXPECT_EQ(pages_.connection.Kind(), kSerialConnection);
    EXPECT_EQ(pages_.connection.Port(), 6);
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Connected);
    EXPECT_EQ(main_.label, "COM6");
    EXPECT_EQ(main_.status, "Connected  FW 7.3.11122  DB 2031.02.7  S/N Z31A0012345");
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].caption, "SUCCESS");
    // The device in download mode already: no switch before the queries.
    EXPECT_EQ(std::count(qv_.calls.begin(), qv_.calls.end(), "ReqSetDeviceDNMode"), 0);
    // Remembered for the next start.
    Settings settings;
    EXPECT_EQ(settings.SerialPort(), 6);
    EXPECT_EQ(settings.SerialModel(), "Z31STD");
}

TEST_F(SerialConnectTest, OnlyTheModelLastUsedIsSearchedForWhileTheTableHasIt) {
    Settings().SetSerialModel("Z40PRO");
    qv_.Script("ReqFindDevice Z40PRO", {{.found = {3}}});
    StartUp();
    EXPECT_EQ(Searches(), std::vector<std::string>{"Z40PRO"});
    EXPECT_EQ(main_.label, "COM3");

    // Not found: the failure, without a search for every other model.
    upgrade_->OnCommand(CUpgradeDlgHttp::kIdDisconnect);
    qv_.calls.clear();
    qv_.Script("ReqFindDevice Z40PRO", {{.found = {}}});
    upgrade_->OnCommand(CUpgradeDlgHttp::kIdConnect);
    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerProbe);
    RunTimers({CUpgradeDlgHttp::kTimerSerialSearch});
    EXPECT_EQ(Searches(), std::vector<std::string>{"Z40PRO"});
    EXPECT_EQ(main_.label, "NO CONNECTION");

    // A model the table no longer has: every model.
    Settings().SetSerialModel("GONE");
    EXPECT_EQ(SerialSearch::SearchOrder(qv_.models, Settings().SerialModel()), qv_.models);
}

TEST_F(SerialConnectTest, NothingOnEitherLinkShowsNoConnectionAndTheFailure) {
    StartUp();
    EXPECT_EQ(Searches(), (std::vector<std::string>{"Z21PRO", "Z31STD", "Z40PRO"}));
    EXPECT_TRUE(qv_.opened.empty());
    EXPECT_EQ(main_.label, "NO CONNECTION");
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Disconnected);
    EXPECT_EQ(pages_.connection.Kind(), kNoConnection);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, CUpgradeDlgHttp::kConnectFailedText);
    EXPECT_EQ(prompt_.boxes[0].caption, "FAIL");

    // No port to probe at all: the finder takes no search, and the failure follows at once.
    ScriptedQvLink none;
    for (const auto& m : none.models) none.Script("ReqFindDevice " + m, {{.accepted = false}});
    PagesHarness other(&none);
    other.Initialise();
    other.upgrade->OnTimer(CUpgradeDlgHttp::kTimerStartup);
    other.upgrade->OnTimer(CUpgradeDlgHttp::kTimerProbe);
    EXPECT_FALSE(other.timers.IsRunning(CUpgradeDlgHttp::kTimerSerialSearch));
    EXPECT_EQ(other.main.label, "NO CONNECTION");
    ASSERT_EQ(other.prompt.boxes.size(), 1u);
    EXPECT_EQ(other.prompt.boxes[0].caption, "FAIL");
}

TEST_F(SerialConnectTest, UsbWinsWhenBothLinksHaveADevice) {
    SimulatedUsbDevice usb("both");
    qv_.Script("ReqFindDevice Z21PRO", {{.found = {3}}});
    StartUp();
    EXPECT_TRUE(Searches().empty());
    EXPECT_EQ(pages_.connection.Kind(), kUsbConnection);
    EXPECT_EQ(main_.label, "USB");
}

TEST_F(SerialConnectTest, ADeviceInNormalOperationIsSwitchedBeforeItsVersionsAreRead) {
    qv_.Script("ReqFindDevice Z21PRO", {{.found = {4}}});
    qv_.Script("ReqGetDeviceMode", {{.mode = 1}});
    qv_.Script("ReqGetDBVersion", {{.result = 2}});  // a query that fails leaves its value out
    qv_.Script("ReqGetFWVersion", {{.text = "1.0"}});
    StartUp();
    const std::vector<std::string> expected = {"ReqGetDeviceMode", "ReqSetDeviceDNMode",
                                               "ReqGetFWVersion", "ReqGetDBVersion",
                                               "ReqGetSerialNumber",
                                               // the settings page, once connected
                                               "ReqGetUserSetting"};
    std::vector<std::string> requests;
    for (const auto& c : qv_.calls) {
        if (c.rfind("ReqGet", 0) == 0 || c == "ReqSetDeviceDNMode") requests.push_back(c);
    }
    EXPECT_EQ(requests, expected);
    EXPECT_EQ(main_.status, "Connected  FW 1.0");
}

TEST_F(SerialConnectTest, DisconnectGivesThePortBackAfterFiftyMilliseconds) {
    qv_.Script("ReqFindDevice Z21PRO", {{.found = {4}}});
    StartUp();
    upgrade_->OnCommand(CUpgradeDlgHttp::kIdDisconnect);
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Disconnected);
    EXPECT_TRUE(qv_.closed.empty());
    EXPECT_EQ(pages_.timers.running.at(CUpgradeDlgHttp::kTimerSerialClose), 50u);
    upgrade_->OnTimer(CUpgradeDlgHttp::kTimerSerialClose);
    EXPECT_EQ(qv_.closed, std::vector<int>{4});
    EXPECT_FALSE(pages_.timers.IsRunning(CUpgradeDlgHttp::kTimerSerialClose));

    // Connecting again right after a disconnection closes the port first, once.
    qv_.closed.clear();
    StartUp();
    upgrade_->OnCommand(CUpgradeDlgHttp::kIdDisconnect);
    upgrade_->OnCommand(CUpgradeDlgHttp::kIdConnect);
    EXPECT_EQ(qv_.closed, std::vector<int>{4});
}

TEST_F(SerialConnectTest, TheOwnersChoiceByHandOpensThatPort) {
    Settings().SetSerialPort(7);
    Settings().SetSerialModel("Z31STD");
    qv_.Script("ReqFindDevice Z31STD", {{.found = {}}});
    StartUp();  // nothing found
    prompt_.boxes.clear();
    // Cancelled: nothing happens.
    prompt_.AnswerSerialPort(std::nullopt);
    upgrade_->ChooseSerialPortByHand();
    EXPECT_TRUE(qv_.opened.empty());
    // Offered with the port and model last used, and every model of the table.
    ASSERT_EQ(prompt_.serial_offers.size(), 1u);
    EXPECT_EQ(prompt_.serial_offers[0].first, qv_.models);
    EXPECT_EQ(prompt_.serial_offers[0].second.port, 7);
    EXPECT_EQ(prompt_.serial_offers[0].second.model, "Z31STD");
    qv_.Script("ReqGetFWVersion", {{.text = "2.0"}});
    prompt_.AnswerSerialPort(SerialChoice{12, "Z40PRO"});
    upgrade_->ChooseSerialPortByHand();
    RunTimers({CUpgradeDlgHttp::kTimerSerialInfo});
    EXPECT_EQ(upgrade_->DeviceLine(), "COM12: FW 2.0");
    EXPECT_EQ(main_.label, "COM12");
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Connected);
    EXPECT_EQ(qv_.opened.back(), (std::pair<std::string, int>{"Z40PRO", 12}));

    // A port that cannot be opened: the connect failure, and the port is not kept.
    qv_.Script("OpenDevice", {{.accepted = false}});
    prompt_.boxes.clear();
    EXPECT_FALSE(upgrade_->ConnectSerialPort(13, "Z40PRO"));
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Disconnected);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].caption, "FAIL");
    EXPECT_EQ(qv_.closed, std::vector<int>{12});  // the earlier port was given back first
}

TEST_F(SerialConnectTest, ADatabaseUpdateOnTheSerialLinkOffersMobFilesAndWritesThroughTheLibrary) {
    qv_.Script("ReqFindDevice Z21PRO", {{.found = {4}}});
    StartUp();
    StartUpdateByHand("/data/update.mob");
    ASSERT_EQ(prompt_.file_requests.size(), 1u);
    EXPECT_EQ(prompt_.file_requests[0].filter, "mob Files (*.mob)|*.mob|");
    EXPECT_EQ(prompt_.file_requests[0].default_extension, "mob");
    EXPECT_EQ(prompt_.file_requests[0].initial_name, "*.mob");
    // First the backup reads, with the device held busy, then the write.
    EXPECT_TRUE(pages_.connection.Busy());
    RunTimers({CUpgradeDlgHttp::kTimerSerialBackup});
    EXPECT_FALSE(upgrade_->LastBackupPath().empty());
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Updating);
    EXPECT_TRUE(upgrade_->WriteRunning());
    qv_.Script("ReqGetDBVersion", {{.text = "2032.01.1"}});
    RunTimers({CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite,
               CUpgradeDlgHttp::kTimerSerialInfo});
    EXPECT_EQ(qv_.written_paths, std::vector<std::string>{"/data/update.mob"});
    EXPECT_EQ(prompt_.boxes.back().text, "DB Upgrade : Completed!");
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Connected);
    // The database version read again after the write.
    EXPECT_NE(main_.status.find("DB 2032.01.1"), std::string::npos) << main_.status;
}

TEST_F(SerialConnectTest, ClosingThePageDuringASerialWriteClosesThePort) {
    qv_.Script("ReqFindDevice Z21PRO", {{.found = {4}}});
    StartUp();
    qv_.Script("ReqWriteDB", {{.polls = 1000000}});
    StartUpdateByHand("/data/update.mob");
    RunTimers({CUpgradeDlgHttp::kTimerSerialBackup});
    for (int i = 0; i < 20; ++i) upgrade_->OnTimer(CUpgradeDlgHttp::kTimerSerialWrite);
    ASSERT_TRUE(upgrade_->WriteRunning());
    upgrade_.reset();
    EXPECT_EQ(qv_.closed, std::vector<int>{4});
}

UserPointEntry SamplePoint(int n) {
    UserPointEntry p{};
    p.w0Bits0to3 = static_cast<uint16_t>(1 + n % 12);
    p.w1Bits11to15 = static_cast<uint16_t>(n % 24);
    p.latitude = 4813720 + n;
    p.longitude = -1157560 - n;
    p.direction = static_cast<int16_t>(n * 10);
    p.word10 = static_cast<uint16_t>(n);
    return p;
}

class SerialBackupTest : public SerialConnectTest {
protected:
    void SetUp() override {
        qv_.Script("ReqFindDevice Z21PRO", {{.found = {4}}});
        qv_.device_settings = {{80, 100}, {20}, {0}, {-300}, {}, {1}};
        qv_.device_points = {SamplePoint(1), SamplePoint(2)};
        StartUp();
    }
    std::vector<std::string> Requests(size_t from = 0) const {
        std::vector<std::string> r;
        for (size_t i = from; i < qv_.calls.size(); ++i) {
            if (qv_.calls[i].rfind("Req", 0) == 0) r.push_back(qv_.calls[i]);
        }
        return r;
    }
    void RunUpdate() {
        RunTimers({CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite,
                   CUpgradeDlgHttp::kTimerSerialInfo});
    }
};

TEST_F(SerialBackupTest, TheDeviceIsBackedUpBeforeTheEraseAndTheBackupReadsBack) {
    const size_t before = qv_.calls.size();
    StartUpdateByHand("/data/update.mob");
    RunUpdate();
    const auto requests = Requests(before);
    const std::vector<std::string> start(requests.begin(), requests.begin() + 6);
    EXPECT_EQ(start,
              (std::vector<std::string>{"ReqGetDeviceMode", "ReqGetUserSetting", "ReqGetUserDB",
                                        "ReqGetDeviceMode", "ReqEraseDB", "ReqWriteDB"}));
    std::string error;
    const auto kept = LoadSerialBackup(upgrade_->LastBackupPath(), &error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->settings, qv_.device_settings);
    EXPECT_TRUE(SamePoints(kept->points, qv_.device_points));
    // Unchanged by the write: no question after it.
    EXPECT_EQ(prompt_.boxes.back().text, "DB Upgrade : Completed!");
}

TEST_F(SerialBackupTest, AWriteThatLostThePointsOffersThemBack) {
    const auto points = qv_.device_points;
    StartUpdateByHand("/data/update.mob");
    RunTimers({CUpgradeDlgHttp::kTimerSerialBackup});
    qv_.device_points.clear();  // what the write does to the device
    prompt_.AnswerBox(kIdOk);   // "DB Upgrade : Completed!"
    prompt_.AnswerBox(kIdYes);  // write them back
    RunUpdate();
    std::vector<std::string> texts;
    for (const auto& b : prompt_.boxes) texts.push_back(b.text);
    EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
              (std::vector<std::string>{"DB Upgrade : Completed!",
                                        CUpgradeDlgHttp::kSerialRestoreQuestion,
                                        CUpgradeDlgHttp::kSerialRestoredText}));
    EXPECT_TRUE(SamePoints(qv_.device_points, points));
    // Only what differed was written back.
    EXPECT_EQ(std::count(qv_.calls.begin(), qv_.calls.end(), "ReqSetUserSetting"), 0);
    EXPECT_EQ(std::count(qv_.calls.begin(), qv_.calls.end(), "ReqSetUserDB"), 1);
}

TEST_F(SerialBackupTest, AFailedBackupAsksAndNoStopsTheWrite) {
    qv_.Script("ReqGetUserDB", {{.result = 2}});
    StartUpdateByHand("/data/update.mob");
    prompt_.AnswerBox(kIdNo);
    RunUpdate();
    EXPECT_TRUE(qv_.written_paths.empty());
    EXPECT_EQ(std::count(qv_.calls.begin(), qv_.calls.end(), "ReqEraseDB"), 0);
    EXPECT_NE(prompt_.boxes.back().text.find("did not send its user points"), std::string::npos);
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Connected);
    EXPECT_FALSE(pages_.connection.Busy());
    // Going on writes the database without a backup.
    StartUpdateByHand("/data/update.mob");
    prompt_.AnswerBox(kIdYes);
    RunUpdate();
    EXPECT_EQ(qv_.written_paths, std::vector<std::string>{"/data/update.mob"});
    EXPECT_TRUE(upgrade_->LastBackupPath().empty());
}

TEST_F(SerialBackupTest, ABackupIsRestoredByHandAndOtherFilesAreRefused) {
    SerialDeviceData data{{{50}, {10}, {1}, {60}, {1}, {0}}, {SamplePoint(7)}};
    const std::string path = data_.path() + "/mine.gpx";
    std::ofstream(path) << FormatSerialBackup(data, 4, "Z21PRO", "2026-12-10T00:00:00Z");
    prompt_.AnswerFile(path);
    prompt_.AnswerBox(kIdYes);
    upgrade_->RestoreBackupByHand();
    RunTimers({CUpgradeDlgHttp::kTimerSerialBackup});
    EXPECT_EQ(prompt_.boxes.back().text, CUpgradeDlgHttp::kSerialRestoredText);
    EXPECT_EQ(qv_.device_settings, data.settings);
    EXPECT_TRUE(SamePoints(qv_.device_points, data.points));

    std::string error;
    for (const std::string& bad :
         {std::string("<gpx version=\"1.1\" creator=\"x\"/>"),
          FormatSerialBackup(data, 4, "Z21PRO", "t")
              .replace(FormatSerialBackup(data, 4, "Z21PRO", "t").find("link=\"serial\""), 13,
                       "link=\"usb\""),
          FormatSerialBackup(data, 4, "Z21PRO", "t")
              .replace(FormatSerialBackup(data, 4, "Z21PRO", "t").find("gmt=\"60\""), 8,
                       "gmt=\"6x\"")}) {
        EXPECT_FALSE(ParseSerialBackup(bad, &error)) << bad;
    }
}

TEST_F(SerialBackupTest, TheSettingsPageReadsWritesAndExportsThroughTheLibrary) {
    // Read after the connection: km/h, the 24-hour clock, GMT -5 h without summer time, a 20 s
    // warning, user speeds 80 and 100.
    FakeControls& page = pages_.settings_controls;
    EXPECT_TRUE(page.IsChecked(CUserSettingDlg::kIdKmh));
    EXPECT_EQ(page.ComboSelection(CUserSettingDlg::kIdClockDisplay), 1);
    EXPECT_EQ(page.ComboSelection(CUserSettingDlg::kIdWarningMode), 3);
    EXPECT_EQ(page.GetText(CUserSettingDlg::kIdUserSpeed1), "80");
    EXPECT_EQ(page.GetText(CUserSettingDlg::kIdUserSpeed3), "0");
    EXPECT_NE(page.ComboText(CUserSettingDlg::kIdTimeZone,
                             page.ComboSelection(CUserSettingDlg::kIdTimeZone))
                  .find("-5 (New York"),
              std::string::npos);
    for (int id : CUserSettingDlg::kDeviceControls) EXPECT_TRUE(page.IsEnabled(id)) << id;

    // A user speed written: the lists go to the device with only that changed.
    page.SetText(CUserSettingDlg::kIdUserSpeed3, "120");
    pages_.settings->OnCommand(CUserSettingDlg::kIdSpeedWrite);
    EXPECT_EQ(qv_.device_settings.speeds, (std::vector<int>{80, 100, 120}));
    EXPECT_EQ(qv_.device_settings.gmt, std::vector<int>{-300});
    EXPECT_EQ(qv_.device_settings.warning, std::vector<int>{20});
    // The speed unit saved as mph.
    page.SetCheck(CUserSettingDlg::kIdKmh, false);
    page.SetCheck(CUserSettingDlg::kIdMph, true);
    pages_.settings->OnCommand(CUserSettingDlg::kIdUnitWrite);
    EXPECT_EQ(qv_.device_settings.unit, std::vector<int>{1});

    // The export reads the user points through the library.
    const std::string path = data_.path() + "/points.xls";
    prompt_.boxes.clear();
    prompt_.AnswerFile(path);
    pages_.settings->OnCommand(CUserSettingDlg::kIdExport);
    ASSERT_FALSE(prompt_.boxes.empty());
    EXPECT_EQ(prompt_.boxes.back().text, " Save User DB : Completed!");
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text,
              "No\tLat\tLong\tDir\r\n1\t48.13721\t-11.57561\t10\r\n"
              "2\t48.13722\t-11.57562\t20\r\n");
}

TEST(SerialSettingsViewTest, WhatThePageCannotShowIsKeptAsTheDeviceHasIt) {
    using namespace devod::usersettings;
    // India: GMT +5:30 with summer time off, a warning of 45 s the page has no mode for.
    const SerialSettings device = {{60, -1, 90}, {45}, {1}, {330}, {0}, {0}};
    const SettingsView view = ViewOfSerialSettings(device, {});
    EXPECT_EQ(view.settings[kByteUnit], 0);   // mph
    EXPECT_EQ(view.settings[kByteClock], 1);  // 12-hour
    EXPECT_EQ(DecodeOffset(view.settings[kByteOffset]), 5);
    EXPECT_EQ(view.settings[kByteWarningMode], 0);
    EXPECT_EQ(view.speeds, (SpeedBlock{60, 0, 90, 0, 0}));
    EXPECT_EQ(view.summer_time, 1);
    EXPECT_EQ(SerialSettingsOfView(view, device), device);
    // Summer time on: the page's offset holds it, the device's GMT does not.
    SettingsView summer = view;
    summer.summer_time = 0;
    summer.settings[kByteOffset] = EncodeOffset(6);
    const SerialSettings back = SerialSettingsOfView(summer, device);
    EXPECT_EQ(back.summer, std::vector<int>{1});
    EXPECT_EQ(back.gmt, std::vector<int>{330});
    EXPECT_EQ(ViewOfSerialSettings(back, {}).settings[kByteOffset], EncodeOffset(6));
}

}  // namespace
