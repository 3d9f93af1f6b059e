// The shop login: email address, password and whether to remember them. The remembered account
// is read when the dialog is created and written when the user logs in; HttpAccountStore does the
// storing, the dialog only moves values between the store and its controls.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;

class CHttpLoginDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTemplateId = 136;
    static constexpr int kIdEmail = 1008;     // edit
    static constexpr int kIdPassword = 1009;  // edit, hidden text
    static constexpr int kIdSaveFlag = 1010;  // check box
    static constexpr int kIdLogin = 1;        // OK
    static constexpr int kIdCancel = 2;

    // Fills the controls from the remembered account (each new dialog reads it afresh). The
    // values below stay empty until the user logs in.
    explicit CHttpLoginDlg(QWidget* parent = nullptr) : CHttpLoginDlg(parent, Account::kShop) {}

    // What the user logged in with; empty (and 0) until Login was pressed.
    const std::string& Email() const { return email_; }
    const std::string& Password() const { return password_; }
    int SaveFlag() const { return save_flag_; }  // 1: remember the account, 0: forget it

    // Tells the user that the password could not be remembered. By default a message box; tests
    // replace it to see the notice without a modal window.
    std::function<void(const QString& text)> show_notice;

    static const char* const kNotRememberedNotice;

protected:
    // Which remembered account the dialog shows and stores: the shop's, or the FTP server's
    // (CFtpLoginDlg). Everything else is the same.
    enum class Account { kShop, kFtp };
    CHttpLoginDlg(QWidget* parent, Account account);

private:
    void OnLogin();

    Account account_;
    QLineEdit* email_edit_ = nullptr;
    QLineEdit* password_edit_ = nullptr;
    QCheckBox* save_check_ = nullptr;
    std::string email_;
    std::string password_;
    int save_flag_ = 0;
};
