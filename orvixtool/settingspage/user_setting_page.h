// The "UserSetting" page's window: template 130 laid out in dialog units, its controls forwarded
// to the page logic (CUserSettingDlg).
#pragma once

#include <memory>

#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/shell/dialog_page.h"

namespace devod {

class UserSettingPage : public DialogPage {
    Q_OBJECT

public:
    UserSettingPage(IPrompt& prompt, ConnectionModel& connection, QWidget* parent = nullptr);
    ~UserSettingPage() override;

    CUserSettingDlg& Logic() { return *logic_; }

private:
    QvLibLink qv_link_;  // a device on a serial port, through QVLib
    std::unique_ptr<CUserSettingDlg> logic_;
};

}  // namespace devod
