// The "Upgrade" page's window: template 9 laid out in dialog units, its controls forwarded to the
// page logic (CUpgradeDlgHttp).
#pragma once

#include <QFont>
#include <memory>

#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/shell/dialog_page.h"
#include "orvixtool/web/qt_web_prompt.h"

namespace devod {

class UpgradePage : public DialogPage {
    Q_OBJECT

public:
    // The web shop's dialogs are shown here unless `web_prompt` answers them.
    UpgradePage(IPrompt& prompt, ConnectionModel& connection, IWebPrompt* web_prompt = nullptr,
                QWidget* parent = nullptr);
    ~UpgradePage() override;

    CUpgradeDlgHttp& Logic() { return *logic_; }

private:
    QtWebPrompt web_prompt_;
    QvLibLink qv_link_;  // the serial link, through QVLib
    std::unique_ptr<CUpgradeDlgHttp> logic_;
    QFont bold_font_;
};

}  // namespace devod
