#include "orvixtool/web/failed_login_dlg.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>

#include "orvixtool/shell/dialog_units.h"

using devod::PlaceControl;

namespace devod {

std::string ForgottenPasswordUrl(const WebEndpoint& endpoint) {
    std::string url = "http://" + endpoint.host;
    if (endpoint.port != 80) url += ":" + std::to_string(endpoint.port);
    return url + "/kvshop/customer.php?xCmd=fpshow";
}

}  // namespace devod

std::function<bool(const QUrl&)> FailedLogin::open_url = &QDesktopServices::openUrl;

std::string FailedLogin::Message() {
    return "Failed to login to " + devod::ShopDomainName() +
           ". \r\n\r\nPlease check and re-enter your Email Address and Password.";
}

FailedLogin::FailedLogin(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Login Failed"));
    setFont(devod::DialogFont());
    devod::DialogUnits units(font());
    setFixedSize(units.Size(210, 86));

    auto* message = PlaceControl<QLabel>(this, units, -1, 7, 7, 196, 40);
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message->setText(QString::fromStdString(Message()).remove(QLatin1Char('\r')));

    // A hyperlink: a flat button drawn as underlined link text, so that it can also be reached
    // with the keyboard. It must not take Enter away from OK.
    auto* link = PlaceControl<QPushButton>(this, units, kIdForgotten, 7, 50, 80, 10);
    link->setText(QStringLiteral("Forgotten Password?"));
    link->setFlat(true);
    link->setAutoDefault(false);
    link->setCursor(Qt::PointingHandCursor);
    link->setStyleSheet(QStringLiteral(
        "QPushButton { color: palette(link); text-decoration: underline; border: none;"
        " text-align: left; padding: 0; }"));
    connect(link, &QPushButton::clicked, this, [] {
        const std::string url = devod::ForgottenPasswordUrl(devod::CurrentWebEndpoint());
        if (open_url) open_url(QUrl(QString::fromStdString(url)));
    });

    auto* ok = PlaceControl<QPushButton>(this, units, kIdOk, 153, 65, 50, 14);
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
