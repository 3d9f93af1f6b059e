#include "orvixtool/ftp/ftp_down_progress_dlg.h"

#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>

#include "orvixtool/shell/dialog_page.h"
#include "orvixtool/shell/dialog_units.h"
#include "orvixtool/shell/qt_prompt.h"

using devod::FtpDownloadFlow;

CFtpDownProgressDlg::CFtpDownProgressDlg(QWidget* parent, int port)
    : QDialog(parent), session_(port) {
    setWindowTitle(QStringLiteral("File Download from Internet"));
    setFont(devod::DialogFont());
    page_ = new devod::DialogPage(this);
    page_->SetTemplateSize(220, 62);
    page_->AddProgress(FtpDownloadFlow::kIdProgress, 7, 7, 206, 14);
    page_->AddStatic(FtpDownloadFlow::kIdText, QString(), 7, 27, 150, 10, false);
    page_->AddButton(FtpDownloadFlow::kIdCancel, QStringLiteral("Cancel"), 163, 41, 50, 14);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page_);
    setFixedSize(page_->size());
    prompt_ = std::make_unique<devod::QtPrompt>(this);
}

CFtpDownProgressDlg::~CFtpDownProgressDlg() { flow_.reset(); }

int CFtpDownProgressDlg::exec() {
    // The flow is made when the dialog runs, with the names the opener has filled in by then.
    QPointer<CFtpDownProgressDlg> self(this);
    flow_ = std::make_unique<FtpDownloadFlow>(
        session_, *page_, *page_, *prompt_,
        // Called on the worker thread: queued to this dialog's thread, and dropped by Qt when
        // the dialog is gone by then.
        [self](unsigned message, uintptr_t wparam) {
            if (self.isNull()) return;
            QMetaObject::invokeMethod(
                self.data(),
                [self, message, wparam] {
                    if (self && self->flow_) self->flow_->OnMessage(message, wparam);
                },
                Qt::QueuedConnection);
        },
        [this](int result) { done(result == FtpDownloadFlow::kOk ? Accepted : Rejected); },
        devod::FtpDownloadRequest{host, user, password, remote_name, local_name});
    page_->on_command = [this](int id) {
        if (id == FtpDownloadFlow::kIdCancel) flow_->OnCancel();
    };
    page_->on_timer = [this](unsigned id) { flow_->OnTimer(id); };
    flow_->OnInitDialog();
    return QDialog::exec();
}

void CFtpDownProgressDlg::reject() {
    if (flow_ && !flow_->closed()) {
        flow_->OnCancel();  // ends the dialog through the flow
        return;
    }
    QDialog::reject();
}
