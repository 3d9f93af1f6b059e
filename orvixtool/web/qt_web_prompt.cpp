#include "orvixtool/web/qt_web_prompt.h"

#include "orvixtool/web/failed_login_dlg.h"
#include "orvixtool/web/http_login_dlg.h"
#include "orvixtool/web/select_db_dlg.h"

namespace devod {

std::optional<LoginInput> QtWebPrompt::LoginDialog() {
    CHttpLoginDlg dialog(parent_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return LoginInput{dialog.Email(), dialog.Password()};
}

void QtWebPrompt::FailedLoginDialog() {
    FailedLogin dialog(parent_);
    dialog.exec();
}

std::optional<std::string> QtWebPrompt::SelectDatabase(const LinkList& links) {
    SelectDB dialog(links, parent_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.SelectedName();
}

}  // namespace devod
