// The web dialogs offscreen: what they show, and what they hand back and store when closed. The
// account store writes below a temporary XDG_CONFIG_HOME, and the shop address comes from the
// environment, both set before main() so that nothing has read them yet.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "orvixtool/config/settings.h"
#include "orvixtool/shell/dialog_units.h"
#include "orvixtool/web/failed_login_dlg.h"
#include "orvixtool/web/http_login_dlg.h"
#include "orvixtool/web/select_db_dlg.h"

namespace {

struct ScratchEnvironment {
    std::string config_dir;
    ScratchEnvironment() {
        char pattern[] = "/tmp/devod_dialogs_test.XXXXXX";
        if (const char* dir = mkdtemp(pattern)) config_dir = dir;
        setenv("XDG_CONFIG_HOME", config_dir.c_str(), 1);
        setenv("DEVOD_WEB_HOST", "www.example.test", 1);
        setenv("DEVOD_WEB_PORT", "8080", 1);
    }
    ~ScratchEnvironment() {
        std::error_code ignored;
        if (!config_dir.empty()) std::filesystem::remove_all(config_dir, ignored);
    }
} scratch_environment;

template <class W>
W* Control(QWidget* dialog, int id) {
    auto* control = qobject_cast<W*>(devod::FindControl(dialog, id));
    EXPECT_NE(control, nullptr) << "control " << id;
    return control;
}

bool ShowsLabel(QWidget* dialog, const QString& text) {
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text() == text) return true;
    }
    return false;
}

class LoginDialogTest : public ::testing::Test {
protected:
    void SetUp() override { devod::Settings().SaveHttpAccount(false, "", ""); }

    // The dialog's email, password and box as they show.
    static std::tuple<QString, QString, bool> Shown(CHttpLoginDlg& dialog) {
        return {Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdEmail)->text(),
                Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdPassword)->text(),
                Control<QCheckBox>(&dialog, CHttpLoginDlg::kIdSaveFlag)->isChecked()};
    }
    const std::tuple<QString, QString, bool> kEmpty{QString(), QString(), false};
};

TEST_F(LoginDialogTest, OpensWithHeadingHiddenPasswordAndTheStoredAccountOnly) {
    auto fresh = std::make_unique<CHttpLoginDlg>();
    EXPECT_TRUE(ShowsLabel(fresh.get(), QStringLiteral("example.test Login")));
    EXPECT_EQ(Control<QLineEdit>(fresh.get(), CHttpLoginDlg::kIdPassword)->echoMode(),
              QLineEdit::Password);
    EXPECT_EQ(Shown(*fresh), kEmpty);
    ASSERT_TRUE(devod::Settings().SaveHttpAccount(true, "driver@example.test", "s3cret"));
    CHttpLoginDlg dialog;
    EXPECT_EQ(Shown(dialog), std::make_tuple(QStringLiteral("driver@example.test"),
                                             QStringLiteral("s3cret"), true));
    EXPECT_EQ(dialog.Email(), "") << "handed out only after Login";
    EXPECT_EQ(dialog.SaveFlag(), 0);
}

TEST_F(LoginDialogTest, LoginTickedRemembersUntickedForgets) {
    std::vector<QString> notices;
    for (bool save : {true, false}) {
        CHttpLoginDlg dialog;
        dialog.show_notice = [&](const QString& text) { notices.push_back(text); };
        Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdEmail)->setText("driver@example.test");
        Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdPassword)->setText("pa ss");
        Control<QCheckBox>(&dialog, CHttpLoginDlg::kIdSaveFlag)->setChecked(save);
        Control<QAbstractButton>(&dialog, CHttpLoginDlg::kIdLogin)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Email(), "driver@example.test");
        EXPECT_EQ(dialog.Password(), "pa ss");
        EXPECT_EQ(dialog.SaveFlag(), save ? 1 : 0);
        CHttpLoginDlg next;
        EXPECT_EQ(Shown(next), save ? std::make_tuple(QStringLiteral("driver@example.test"),
                                                      QStringLiteral("pa ss"), true)
                                    : kEmpty);
    }
    EXPECT_TRUE(notices.empty()) << "an ordinary password needs no notice";
}

TEST_F(LoginDialogTest, EmptyLoginIsAcceptedAndCancelStoresNothing) {
    ASSERT_TRUE(devod::Settings().SaveHttpAccount(true, "kept@example.test", "kept"));
    CHttpLoginDlg cancelled;
    Control<QCheckBox>(&cancelled, CHttpLoginDlg::kIdSaveFlag)->setChecked(false);
    Control<QAbstractButton>(&cancelled, CHttpLoginDlg::kIdCancel)->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_TRUE(devod::Settings().HttpAccount().saved);

    CHttpLoginDlg dialog;
    Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdEmail)->clear();
    Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdPassword)->clear();
    Control<QAbstractButton>(&dialog, CHttpLoginDlg::kIdLogin)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Email(), "");
    EXPECT_EQ(dialog.SaveFlag(), 1);
}

TEST(FailedLoginTest, MessageOnSeparateLinesAndLinkToForgottenPasswordPage) {
    std::vector<QUrl> opened;
    const auto browser = FailedLogin::open_url;
    FailedLogin::open_url = [&](const QUrl& url) { return opened.push_back(url), true; };
    FailedLogin dialog;
    EXPECT_TRUE(ShowsLabel(&dialog, QStringLiteral("Failed to login to example.test. \n\nPlease "
                                                   "check and re-enter your Email Address and "
                                                   "Password.")));
    auto* link = Control<QAbstractButton>(&dialog, FailedLogin::kIdForgotten);
    EXPECT_EQ(link->text(), QStringLiteral("Forgotten Password?"));
    EXPECT_TRUE(link->toolTip().isEmpty());
    link->click();
    FailedLogin::open_url = browser;
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(),
              QStringLiteral("http://www.example.test:8080/kvshop/customer.php?xCmd=fpshow"));
    EXPECT_EQ(dialog.result(), 0) << "the link leaves the dialog open";
    EXPECT_EQ(devod::ForgottenPasswordUrl({"shop.test", 80}),
              "http://shop.test/kvshop/customer.php?xCmd=fpshow");
}

const devod::LinkList kLinks = {
    {"Europe 2024", "/db/eu.zip"}, {"Two\r\nlines  ", ""}, {"Europe 2024", "/db/eu2.zip"}};

TEST(SelectDBTest, ListsEveryTextInOrderWithNothingChosen) {
    SelectDB dialog(kLinks);
    auto* list = Control<QComboBox>(&dialog, SelectDB::kIdList);
    ASSERT_EQ(list->count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list->itemText(i).toStdString(), kLinks[i].text);
    EXPECT_FALSE(list->isEditable());
    EXPECT_EQ(list->currentIndex(), -1);
}

TEST(SelectDBTest, AutoUpdateTakesTheChosenTextAndManualKeepsItEmpty) {
    for (int chosen : {-1, 1}) {
        SelectDB dialog(kLinks);
        Control<QComboBox>(&dialog, SelectDB::kIdList)->setCurrentIndex(chosen);
        Control<QAbstractButton>(&dialog, SelectDB::kIdAutoUpdate)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.SelectedName(), chosen < 0 ? "" : "Two\r\nlines  ");
    }
    SelectDB dialog(kLinks);
    Control<QComboBox>(&dialog, SelectDB::kIdList)->setCurrentIndex(2);
    Control<QAbstractButton>(&dialog, SelectDB::kIdManual)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.SelectedName(), "");
}

}  // namespace
