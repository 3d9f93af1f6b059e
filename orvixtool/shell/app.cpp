#include "orvixtool/shell/app.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>

#include "orvixtool/shell/main_window.h"
#include "orvixtool/shell/qt_prompt.h"

bool CDevodToolApp::StartSockets() {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) return false;
    close(probe);
    // A peer that goes away must fail our write, not end the process.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

bool CDevodToolApp::DisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

namespace {

// While the window system plugin starts, a fatal error of Qt's ends the process quietly instead
// of printing and aborting: a platform start-up failure shows no message.
void QuietStartUpFailure(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) _exit(1);
}

}  // namespace

int CDevodToolApp::Run(int argc, char** argv) {
    if (!StartSockets()) return 1;
    // Without a display Qt would stop the process with a message of its own.
    if (!DisplayAvailable()) return 1;
    QtMessageHandler previous = qInstallMessageHandler(QuietStartUpFailure);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("DevodTool"));
    QApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    devod::QtPrompt prompt;
    CDevodToolDlg window(prompt);
    prompt.SetParent(&window);
    window.exec();
    return 0;
}
