// The "Upgrade" page's window: template 9 laid out in dialog units, its controls forwarded to the
// page logic (CUpgradeDlgHttp).
#pragma once

#include <QFont>
#include <memory>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/shell/dialog_page.h"

namespace devod {

class UpgradePage : public DialogPage {
    Q_OBJECT

public:
    UpgradePage(IPrompt& prompt, QWidget* parent = nullptr);
    ~UpgradePage() override;

    CUpgradeDlgHttp& Logic() { return *logic_; }

private:
    std::unique_ptr<CUpgradeDlgHttp> logic_;
    QFont bold_font_;
};

}  // namespace devod
