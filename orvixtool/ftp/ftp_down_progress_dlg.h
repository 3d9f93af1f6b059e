// The FTP download progress dialog (template 135): a progress bar, a Cancel button and an empty
// text. The opener fills in the host, account and file names, runs it with exec(), and reads
// `status` for the reason it closed (FtpDownloadFlow::Status). The behaviour is FtpDownloadFlow's;
// this window only lays out the controls and carries the worker's messages to its thread.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "orvixtool/ftp/ftp_download.h"
#include "orvixtool/ftp/ftp_transfer_session.h"

namespace devod {
class DialogPage;
class QtPrompt;
}  // namespace devod

class CFtpDownProgressDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTemplateId = 135;

    // `port`: the server's control port (21; tests use a free one).
    explicit CFtpDownProgressDlg(QWidget* parent = nullptr, int port = devod::kFtpPort);
    ~CFtpDownProgressDlg() override;  // stops and joins a running transfer first

    // Filled in by the opener before exec().
    std::string host;
    std::string user;
    std::string password;
    std::string remote_name;
    std::string local_name;

    int status() const { return flow_ ? flow_->status() : devod::FtpDownloadFlow::kStatusOpen; }
    devod::DialogPage* page() const { return page_; }

    int exec() override;
    void reject() override;  // Escape and the close box cancel, as the Cancel button does

private:
    devod::FtpTransferSession session_;
    devod::DialogPage* page_ = nullptr;
    std::unique_ptr<devod::QtPrompt> prompt_;
    std::unique_ptr<devod::FtpDownloadFlow> flow_;
};
