#include "orvixtool/web/http_login_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "orvixtool/config/settings.h"
#include "orvixtool/shell/dialog_units.h"
#include "orvixtool/web/web_config.h"

using devod::PlaceControl;

const char* const CHttpLoginDlg::kNotRememberedNotice =
    "This password cannot be remembered; you will be asked for it next time.";

namespace {

QLabel* PlaceLabel(QWidget* parent, const devod::DialogUnits& units, const QString& text, int x,
                   int y, int w, int h) {
    auto* label = PlaceControl<QLabel>(parent, units, -1, x, y, w, h);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

}  // namespace

CHttpLoginDlg::CHttpLoginDlg(QWidget* parent, Account account)
    : QDialog(parent), account_(account) {
    const bool ftp = account_ == Account::kFtp;
    setWindowTitle(ftp ? QStringLiteral("FTP Login") : QStringLiteral("Kelvaro Login"));
    setFont(devod::DialogFont());
    devod::DialogUnits units(font());
    setFixedSize(units.Size(200, 104));

    PlaceLabel(this, units,
               ftp ? QStringLiteral("FTP Account")
                   : QString::fromStdString(devod::ShopDomainName() + " Login"),
               7, 7, 186, 10);
    PlaceLabel(this, units, QStringLiteral("Email Address:"), 7, 28, 58, 8);
    email_edit_ = PlaceControl<QLineEdit>(this, units, kIdEmail, 68, 26, 125, 12);
    PlaceLabel(this, units, QStringLiteral("Password:"), 7, 46, 58, 8);
    password_edit_ = PlaceControl<QLineEdit>(this, units, kIdPassword, 68, 44, 125, 12);
    password_edit_->setEchoMode(QLineEdit::Password);
    save_check_ = PlaceControl<QCheckBox>(this, units, kIdSaveFlag, 68, 62, 125, 10);
    save_check_->setText(QStringLiteral("Save ID / Pass"));

    auto* login = PlaceControl<QPushButton>(this, units, kIdLogin, 89, 83, 50, 14);
    login->setText(QStringLiteral("Login"));
    login->setDefault(true);
    auto* cancel = PlaceControl<QPushButton>(this, units, kIdCancel, 143, 83, 50, 14);
    cancel->setText(QStringLiteral("Cancel"));
    connect(login, &QPushButton::clicked, this, &CHttpLoginDlg::OnLogin);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    show_notice = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };

    const devod::StoredAccount stored =
        ftp ? devod::Settings().FtpAccount() : devod::Settings().HttpAccount();
    if (stored.saved) {
        email_edit_->setText(QString::fromStdString(stored.email));
        password_edit_->setText(QString::fromStdString(stored.password));
        save_check_->setChecked(true);
    }
    email_edit_->setFocus();
}

void CHttpLoginDlg::OnLogin() {
    email_ = email_edit_->text().toStdString();
    password_ = password_edit_->text().toStdString();
    save_flag_ = save_check_->isChecked() ? 1 : 0;
    devod::Settings settings;
    const bool stored = account_ == Account::kFtp
                            ? settings.SaveFtpAccount(save_flag_ == 1, email_, password_)
                            : settings.SaveHttpAccount(save_flag_ == 1, email_, password_);
    if (!stored && show_notice) {
        show_notice(QString::fromUtf8(kNotRememberedNotice));
    }
    accept();
}
