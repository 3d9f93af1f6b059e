// The whole program window, offscreen, against the simulated device behind our PipeBridge: the
// start-up connect, the pages it fills, the shared fields, exit and the About box.
#include "orvixtool/shell/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/upgrade_page.h"
#include "orvixtool/settingspage/user_setting_page.h"
#include "orvixtool/shell/about_dlg.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "qvlib/util/clock.h"
#include "sim/shop/z31shop.h"
#include "sim/usb/z31usb.h"

extern char** environ;

using namespace devod;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_->SetSettingsRecord({0x00, 0x01, 0x00, 0x01, 0x89, 0x03});
        device_->SetUserSpeeds({50, 60, 70, 80, 90});
    }
    void TearDown() override { window_.reset(); }
    void Open() {
        window_ = std::make_unique<CDevodToolDlg>(prompt_, &prompt_);
        window_->show();
    }
    // The start-up connect ends with one message box.
    bool WaitForStartUp() {
        return QTest::qWaitFor([&] { return !prompt_.boxes.empty(); }, 5000);
    }
    template <typename W>
    W* Find(QWidget* root, int id) {
        return qobject_cast<W*>(FindControl(root, id));
    }
    QWidget* Upgrade() { return window_->UpgradeWidget(); }
    QWidget* Settings() { return window_->SettingWidget(); }

    devod::testing::ScopedTestClock clock_;
    devod::testing::SimulatedUsbDevice device_{"window"};
    devod::testing::ScriptedPrompt prompt_;
    std::unique_ptr<CDevodToolDlg> window_;
};

}  // namespace

TEST_F(MainWindowTest, ConnectsAtStartUpAndFillsTheSettingsPage) {
    Open();
    ASSERT_TRUE(WaitForStartUp());
    EXPECT_EQ(prompt_.boxes[0].caption, "SUCCESS");
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1001)->text(), "USB");
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1002)->text(), "Connected");
    EXPECT_FALSE(Find<QPushButton>(Upgrade(), 1009)->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(Upgrade(), 1012)->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(Upgrade(), 1017)->isEnabled());
    EXPECT_TRUE(Find<QRadioButton>(Settings(), 1078)->isChecked());
    EXPECT_EQ(Find<QLabel>(Settings(), 1036)->text(), "80 Km/h");
    EXPECT_EQ(Find<QComboBox>(Settings(), 1060)->currentText(), "-9 (Alaska)");
    EXPECT_EQ(Find<QComboBox>(Settings(), 1038)->currentText(), "20s");
    EXPECT_EQ(Find<QLineEdit>(Settings(), 1024)->text(), "90");
    EXPECT_EQ(Find<QComboBox>(Settings(), 1060)->count(), 24);  // no default zone any more
}

TEST_F(MainWindowTest, WithoutADeviceOnlyTheConnectButtonIsLeft) {
    device_->SetAttached(false);
    Open();
    ASSERT_TRUE(WaitForStartUp());
    EXPECT_EQ(prompt_.boxes[0].caption, "FAIL");
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1002)->text(), "Disconnect");
    // Not on USB and not on any serial port either.
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1001)->text(), "NO CONNECTION");
    EXPECT_TRUE(Find<QPushButton>(Upgrade(), 1009)->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(Upgrade(), 1012)->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(Upgrade(), 1017)->isEnabled());
    // Pressing connect again runs the whole connect, now with the device there.
    device_->SetAttached(true);
    QTest::mouseClick(Find<QPushButton>(Upgrade(), 1009), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompt_.boxes.size() == 2; }, 5000));
    EXPECT_EQ(prompt_.boxes[1].caption, "SUCCESS");
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1002)->text(), "Connected");
}

TEST_F(MainWindowTest, TabsOnlyShowAndHideThePages) {
    Open();
    window_->Tabs()->setCurrentIndex(1);
    EXPECT_TRUE(Upgrade()->isHidden());
    EXPECT_FALSE(Settings()->isHidden());
    // The hidden Upgrade page's start-up timer still runs and connects.
    ASSERT_TRUE(WaitForStartUp());
    EXPECT_EQ(prompt_.boxes[0].caption, "SUCCESS");
    window_->Tabs()->setCurrentIndex(0);
    EXPECT_FALSE(Upgrade()->isHidden());
    EXPECT_TRUE(Settings()->isHidden());
}

TEST_F(MainWindowTest, ExitAsksAndNoKeepsEverythingRunning) {
    Open();
    ASSERT_TRUE(WaitForStartUp());
    prompt_.AnswerBox(kIdNo);
    QTest::mouseClick(Find<QPushButton>(window_.get(), 1003), Qt::LeftButton);
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[1].text, "Do you really want to exit? ");
    EXPECT_EQ(prompt_.boxes[1].caption, "EXIT");
    EXPECT_EQ(prompt_.boxes[1].style & 0xF, static_cast<unsigned>(kMbYesNo));
    EXPECT_TRUE(window_->isVisible());
    prompt_.AnswerBox(kIdYes);
    QTest::mouseClick(Find<QPushButton>(window_.get(), 1003), Qt::LeftButton);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(window_->result(), QDialog::Accepted);
}

TEST_F(MainWindowTest, EscapeClosesWithoutTheQuestion) {
    Open();
    ASSERT_TRUE(WaitForStartUp());
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(window_->result(), QDialog::Rejected);
    EXPECT_EQ(prompt_.boxes.size(), 1u);
}

// A database write in progress is not given up by a stray key: Escape does nothing and Exit asks
// whether to stop it.
TEST_F(MainWindowTest, EscapeAndExitDuringADatabaseWriteKeepItUnlessTheOwnerStopsIt) {
    Open();
    ASSERT_TRUE(WaitForStartUp());
    std::string file = std::filesystem::temp_directory_path() /
                       ("devod-exit-" + std::to_string(getpid()) + ".hdr");
    std::ofstream(file, std::ios::binary) << '$' << std::string(2048 * 3000 + 1023, 'd');
    clock_.clock.real_pauses = true;  // the write lasts some seconds
    CUpgradeDlgHttp* upgrade = window_->UpgradeLogic();
    upgrade->SetDatabasePath(file);
    ASSERT_TRUE(upgrade->StartUsbWrite());
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1002)->text(), "Updating DB");

    QTest::keyClick(window_.get(), Qt::Key_Escape);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(upgrade->WriteRunning());

    prompt_.AnswerBox(kIdNo);
    QTest::mouseClick(Find<QPushButton>(window_.get(), 1003), Qt::LeftButton);
    EXPECT_EQ(prompt_.boxes.back().text, CDevodToolDlg::kExitDuringWriteQuestion);
    EXPECT_EQ(prompt_.boxes.back().caption, "EXIT");
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(upgrade->WriteRunning());

    prompt_.AnswerBox(kIdYes);
    QTest::mouseClick(Find<QPushButton>(window_.get(), 1003), Qt::LeftButton);
    EXPECT_FALSE(upgrade->WriteRunning());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(window_->result(), QDialog::Accepted);
    const size_t sent = device_->ReceivedStream().size();
    EXPECT_LT(sent, 2048u * 3000);  // stopped, not finished
    std::filesystem::remove(file);
}

TEST_F(MainWindowTest, ControlsSitAtTheirTemplatePositions) {
    Open();
    DialogUnits units(DialogFont());
    EXPECT_EQ(window_->size(), units.Size(436, 252));
    EXPECT_EQ(Find<QPushButton>(window_.get(), 1003)->geometry(), units.Rect(350, 230, 65, 15));
    EXPECT_EQ(Find<QPushButton>(Upgrade(), 1017)->geometry(), units.Rect(14, 107, 353, 42));
    EXPECT_EQ(Find<QPushButton>(Settings(), 1063)->geometry(), units.Rect(323, 166, 35, 15));
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(MainWindowTest, UpdateRunsFromTheButtonThroughTheShopIntoTheDevice) {
    z31sim::Shop shop;
    const z31sim::ShopDatabase db = shop.Config().databases[2];
    setenv("DEVOD_WEB_HOST", "127.0.0.1", 1);
    setenv("DEVOD_WEB_PORT", std::to_string(shop.Port()).c_str(), 1);
    std::string old_dir = std::filesystem::current_path();
    std::string work =
        std::filesystem::temp_directory_path() / ("devod-e2e-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    std::filesystem::current_path(work);
    Open();
    ASSERT_TRUE(WaitForStartUp());
    prompt_.AnswerLogin(LoginInput{"owner@example.com", "secret"});
    std::string href = shop.DatabaseHref(db);
    prompt_.choose_database = [href](const LinkList& links) -> std::optional<std::string> {
        for (const LinkEntry& link : links) {
            if (link.href == href) return link.text;
        }
        return std::nullopt;
    };
    prompt_.AnswerBox(kIdYes);  // "Upload now?"
    QTest::mouseClick(Find<QPushButton>(Upgrade(), 1017), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return prompt_.boxes.back().text == "DB Upgrade : Completed!"; }, 20000));
    EXPECT_EQ(prompt_.boxes.back().caption, "COMPLETE");
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1002)->text(), "Connected");
    std::string bytes = shop.DatabaseBytes(db.file);
    std::string expected = bytes.substr(0, 20) + bytes.substr(1024);
    auto stream = device_->ReceivedStream();
    EXPECT_EQ(std::string(stream.begin(), stream.end()), expected);
    ASSERT_EQ(shop.LogRecords().size(), 1u);
    EXPECT_EQ(shop.LogRecords()[0].result, "SUCCESS");
    window_.reset();
    std::filesystem::current_path(old_dir);
    std::filesystem::remove_all(work);
    unsetenv("DEVOD_WEB_HOST");
    unsetenv("DEVOD_WEB_PORT");
}

TEST_F(MainWindowTest, AnInternetFailureEndsTheCommandWithItsTextAndAStopIcon) {
    z31sim::Shop shop;
    setenv("DEVOD_WEB_HOST", "127.0.0.1", 1);
    setenv("DEVOD_WEB_PORT", std::to_string(shop.Port()).c_str(), 1);
    shop.GoDown();
    Open();
    ASSERT_TRUE(WaitForStartUp());
    prompt_.AnswerLogin(LoginInput{"owner@example.com", "secret"});
    QTest::mouseClick(Find<QPushButton>(Upgrade(), 1017), Qt::LeftButton);
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_NE(prompt_.boxes[1].text, "");
    EXPECT_EQ(prompt_.boxes[1].caption, "DevodTool");
    EXPECT_EQ(prompt_.boxes[1].style & 0xF0, static_cast<unsigned>(kMbIconStop));
    EXPECT_EQ(Find<QLineEdit>(window_.get(), 1002)->text(), "Connected");
    unsetenv("DEVOD_WEB_HOST");
    unsetenv("DEVOD_WEB_PORT");
}

TEST(AboutBox, NamesTheProgramAndItsVersion) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About DevodTool");
    bool found = false;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        found = found || label->text() == "DevodTool, Version 1.0";
    }
    EXPECT_TRUE(found);
    EXPECT_STREQ(CAboutDlg::kAboutItem, "&About DevodTool...");
}
