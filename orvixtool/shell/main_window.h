// CDevodToolDlg: the main window. A tab control hosts the "Upgrade" and "UserSetting" pages;
// below it sit the connection label, the status field and the Exit button that the pages share.
#pragma once

#include <QLineEdit>
#include <QTabBar>

#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/dialog_sk.h"
#include "orvixtool/shell/main_window_link.h"

namespace devod {
class UpgradePage;
class UserSettingPage;
}  // namespace devod

class CDevodToolDlg : public CDialogSK, public devod::IMainWindow {
    Q_OBJECT

public:
    enum : int { kIdConnectionLabel = 1001, kIdStatus = 1002, kIdExit = 1003, kIdTab = 1004 };
    static constexpr char kExitQuestion[] = "Do you really want to exit? ";

    explicit CDevodToolDlg(devod::IPrompt& prompt, QWidget* parent = nullptr);
    ~CDevodToolDlg() override;

    // IMainWindow
    void SetStatus(const std::string& text) override;
    std::string Status() const override;
    void SetConnectionLabel(const std::string& text) override;
    std::string ConnectionLabel() const override;
    CUpgradeDlgHttp* UpgradePage() override;
    CUserSettingDlg* SettingPage() override;

    devod::UpgradePage* UpgradeWidget() { return upgrade_; }
    devod::UserSettingPage* SettingWidget() { return settings_; }
    QTabBar* Tabs() { return tab_bar_; }

    // Exit button: ask, and end the window on Yes.
    void OnExit();
    void ShowAbout();

    // Tab selection: page 0 shows the Upgrade page, any other the UserSetting page.
    void OnTabChanged(int index);

protected:
    // The About item lives in the window's context menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    devod::IPrompt& prompt_;
    QWidget* tab_control_ = nullptr;  // control 1004: the tab bar with the pages below it
    QTabBar* tab_bar_ = nullptr;
    QLineEdit* label_ = nullptr;
    QLineEdit* status_ = nullptr;
    devod::UpgradePage* upgrade_ = nullptr;
    devod::UserSettingPage* settings_ = nullptr;
};
