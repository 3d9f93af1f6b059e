// CDevodToolDlg: the main window. A tab control hosts the "Upgrade" and "UserSetting" pages;
// below it sit the connection label, the status field and the Exit button that the pages share.
#pragma once

#include <QLineEdit>
#include <QTabBar>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/dialog_sk.h"
#include "orvixtool/shell/main_window_link.h"

class CUpgradeDlgHttp;

namespace devod {
class IWebPrompt;
class UpgradePage;
class UserSettingPage;
}  // namespace devod

class CDevodToolDlg : public CDialogSK, public devod::IMainWindow {
    Q_OBJECT

public:
    enum : int { kIdConnectionLabel = 1001, kIdStatus = 1002, kIdExit = 1003, kIdTab = 1004 };
    static constexpr char kExitQuestion[] = "Do you really want to exit? ";
    // The context menu's entry that connects a device on a serial port chosen by hand.
    static constexpr char kSerialPortItem[] = "Connect to a &serial port...";
    // The entry that writes the settings of an earlier backup back into the device.
    static constexpr char kRestoreItem[] = "&Restore settings from a backup...";
    static constexpr char kExitDuringWriteQuestion[] =
        "A database update is in progress. Stop it and exit?";

    // The web shop's dialogs are shown by the Upgrade page unless `web_prompt` answers them.
    explicit CDevodToolDlg(devod::IPrompt& prompt, devod::IWebPrompt* web_prompt = nullptr,
                           QWidget* parent = nullptr);
    ~CDevodToolDlg() override;

    // IMainWindow
    void SetStatus(const std::string& text) override;
    std::string Status() const override;
    void SetConnectionLabel(const std::string& text) override;
    std::string ConnectionLabel() const override;
    CUpgradeDlgHttp* UpgradeLogic();

    devod::UpgradePage* UpgradeWidget() { return upgrade_; }
    devod::UserSettingPage* SettingWidget() { return settings_; }
    QTabBar* Tabs() { return tab_bar_; }

    // Exit button: ask, and end the window on Yes. During a database write the question is whether
    // to stop it; No keeps it writing.
    void OnExit();
    // Escape: closes the window without a question, except during a database write, when it does
    // nothing (a half-written database would be left in the device).
    void reject() override;
    void ShowAbout();
    void ChooseSerialPort();
    void RestoreBackup();

    // Tab selection: page 0 shows the Upgrade page, any other the UserSetting page.
    void OnTabChanged(int index);

protected:
    // The About item lives in the window's context menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool WriteRunning();

    devod::IPrompt& prompt_;
    devod::ConnectionModel connection_;  // outlives both pages, which observe it
    QWidget* tab_control_ = nullptr;     // control 1004: the tab bar with the pages below it
    QTabBar* tab_bar_ = nullptr;
    QLineEdit* label_ = nullptr;
    QLineEdit* status_ = nullptr;
    devod::UpgradePage* upgrade_ = nullptr;
    devod::UserSettingPage* settings_ = nullptr;
};
