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

int CDevodToolApp::Run(int argc, char** argv) {
    if (!StartSockets()) return 1;
    // Without a display Qt would stop the process with a message of its own.
    if (!DisplayAvailable()) return 1;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("DevodTool"));
    QApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    devod::QtPrompt prompt;
    CDevodToolDlg window(prompt);
    prompt.SetParent(&window);
    window.exec();
    return 0;
}
