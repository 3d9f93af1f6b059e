// The FTP account dialog: the shop login dialog's fields, loading and storing, and password
// scrambling, for the account under "SOFTWARE\DEVOD\FTPACCOUNT".
#pragma once

#include "orvixtool/web/http_login_dlg.h"

class CFtpLoginDlg : public CHttpLoginDlg {
    Q_OBJECT

public:
    explicit CFtpLoginDlg(QWidget* parent = nullptr) : CHttpLoginDlg(parent, Account::kFtp) {}
};
