// Shown when the shop refuses the login: asks the user to check the address and password and
// offers the shop's forgotten-password page.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>
#include <string>

#include "orvixtool/web/web_config.h"

namespace devod {

// The shop's forgotten-password page: "http://host[:port]/kvshop/customer.php?xCmd=fpshow", the
// port written only when it is not 80.
std::string ForgottenPasswordUrl(const WebEndpoint& endpoint);

}  // namespace devod

class FailedLogin : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTemplateId = 141;
    static constexpr int kIdForgotten = 1024;  // the link
    static constexpr int kIdOk = 1;

    explicit FailedLogin(QWidget* parent = nullptr);

    // The message as the dialog shows it; lines break at "\r\n".
    static std::string Message();

    // Opens a page in the user's web browser; QDesktopServices::openUrl unless a test replaced it.
    static std::function<bool(const QUrl&)> open_url;
};
