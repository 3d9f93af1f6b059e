// The FTP dialogs offscreen: the account dialog stores its own account apart from the shop's,
// and the progress dialog shows its controls and ends with the right status on its own.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "orvixtool/config/settings.h"
#include "orvixtool/ftp/ftp_down_progress_dlg.h"
#include "orvixtool/ftp/ftp_login_dlg.h"
#include "orvixtool/ftp/tests/ftp_test_server.h"
#include "orvixtool/shell/dialog_units.h"
#include "orvixtool/shell/text_progress_ctrl.h"

namespace {

struct ScratchEnvironment {
    std::string config_dir;
    ScratchEnvironment() {
        char pattern[] = "/tmp/devod_ftp_dialogs_test.XXXXXX";
        if (const char* dir = mkdtemp(pattern)) config_dir = dir;
        setenv("XDG_CONFIG_HOME", config_dir.c_str(), 1);
    }
    ~ScratchEnvironment() {
        std::error_code ignored;
        if (!config_dir.empty()) std::filesystem::remove_all(config_dir, ignored);
    }
} scratch_environment;

template <class W>
W* Control(QWidget* dialog, int id) {
    auto* control = qobject_cast<W*>(devod::FindControl(dialog, id));
    EXPECT_NE(control, nullptr) << "control " << id;
    return control;
}

// A loopback port with nothing listening on it.
int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace

TEST(FtpLoginDialog, StoresTheFtpAccountAndLeavesTheShopsAlone) {
    devod::Settings().SaveHttpAccount(true, "shop@example.com", "shop-pass");
    devod::Settings().SaveFtpAccount(false, "", "");
    {
        CFtpLoginDlg dialog;
        EXPECT_EQ(Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdEmail)->text(), "");
        Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdEmail)->setText("ftpuser");
        Control<QLineEdit>(&dialog, CHttpLoginDlg::kIdPassword)->setText("ftp-pass");
        Control<QCheckBox>(&dialog, CHttpLoginDlg::kIdSaveFlag)->setChecked(true);
        Control<QAbstractButton>(&dialog, CHttpLoginDlg::kIdLogin)->click();
        EXPECT_EQ(dialog.Email(), "ftpuser");
    }
    const devod::StoredAccount ftp = devod::Settings().FtpAccount();
    EXPECT_TRUE(ftp.saved);
    EXPECT_EQ(ftp.email, "ftpuser");
    EXPECT_EQ(ftp.password, "ftp-pass");
    EXPECT_EQ(devod::Settings().HttpAccount().email, "shop@example.com");
    // A new dialog shows the remembered FTP account.
    CFtpLoginDlg again;
    EXPECT_EQ(Control<QLineEdit>(&again, CHttpLoginDlg::kIdEmail)->text(), "ftpuser");
    EXPECT_EQ(Control<QLineEdit>(&again, CHttpLoginDlg::kIdPassword)->text(), "ftp-pass");
}

TEST(FtpProgressDialog, AnUnreachableServerEndsItWithStatusOne) {
    CFtpDownProgressDlg dialog(nullptr, ClosedPort());
    EXPECT_EQ(dialog.windowTitle(), "File Download from Internet");
    EXPECT_NE(Control<CTextProgressCtrl>(&dialog, 1003), nullptr);
    EXPECT_EQ(Control<QAbstractButton>(&dialog, 1004)->text(), "Cancel");
    dialog.host = "127.0.0.1";
    dialog.user = "bob";
    dialog.password = "secret";
    dialog.remote_name = "db.bin";
    dialog.local_name = "db.bin";
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.status(), devod::FtpDownloadFlow::kStatusUnreachable);
    EXPECT_LT(clock.elapsed(), 30000);
}

TEST(FtpProgressDialog, CancelBeforeTheStartClosesAtOnce) {
    CFtpDownProgressDlg dialog(nullptr, ClosedPort());
    QTimer::singleShot(50, &dialog, [&] { Control<QAbstractButton>(&dialog, 1004)->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.status(), devod::FtpDownloadFlow::kStatusFailed);
}

TEST(FtpProgressDialog, RunsAgainstARealServer) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/devod_ftp_dialog_run.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string work = pattern;
    fs::create_directory(work + "/root");
    std::string body(300 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
    std::ofstream(work + "/root/db.bin", std::ios::binary) << body;
    devod::testing::FtpTestServer server;
    ASSERT_EQ(server.Start(work + "/root", work), "");

    const auto run = [&](const char* password, const char* remote) {
        auto dialog = std::make_unique<CFtpDownProgressDlg>(nullptr, server.port());
        dialog->host = "127.0.0.1";
        dialog->user = "bob";
        dialog->password = password;
        dialog->remote_name = remote;
        dialog->local_name = work + "/db.bin";
        const int result = dialog->exec();
        return std::make_pair(result, dialog->status());
    };
    EXPECT_EQ(run("secret", "db.bin"), std::make_pair(int(QDialog::Accepted), 0));
    std::ifstream in(work + "/db.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), body);
    EXPECT_EQ(run("wrong", "db.bin"), std::make_pair(int(QDialog::Rejected), 2));
    EXPECT_EQ(run("secret", "missing.bin"), std::make_pair(int(QDialog::Rejected), 3));
    server.Stop();
    std::error_code ignored;
    fs::remove_all(work, ignored);
}
