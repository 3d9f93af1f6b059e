#include "orvixtool/shell/app.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orvixtool/shell/main_window.h"
#include "orvixtool/shell/qt_prompt.h"

int CDevodToolApp::StartSockets() {
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return errno != 0 ? errno : EAFNOSUPPORT;
    close(probe);
    // A peer that goes away must fail our write, not end the process.
    signal(SIGPIPE, SIG_IGN);
    return 0;
}

bool CDevodToolApp::DisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

void CDevodToolApp::ReportStartUpFailure(const std::string& why) {
    const std::string line = "DevodTool: " + why + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

namespace {

// The first thing the window system plugins said while they started: the reason a start-up
// failure gives. Only touched on the main thread, while QApplication is being constructed.
QString g_platform_reason;

// The first line of a message, without surrounding blanks (nor the empty plugin folder Qt
// names when it looked in its default place).
QString FirstLine(const QString& text) {
    QString line = text.section(QLatin1Char('\n'), 0, 0, QString::SectionSkipEmpty).trimmed();
    if (line.endsWith(QStringLiteral(" in \"\""))) line.chop(6);
    return line;
}

// While the window system plugin starts, Qt's own messages are held back. If the start fails
// (a fatal error of Qt's), the process ends with one line saying why instead of Qt's
// several-line text and an abort.
void StartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const bool from_platform =
        context.category != nullptr && std::strncmp(context.category, "qt.qpa", 6) == 0;
    if (from_platform && g_platform_reason.isEmpty() && type != QtDebugMsg) {
        g_platform_reason = FirstLine(text);
    }
    if (type != QtFatalMsg) return;
    const QString reason = g_platform_reason.isEmpty() ? FirstLine(text) : g_platform_reason;
    CDevodToolApp::ReportStartUpFailure("the window system could not start: " +
                                        reason.toStdString());
    _exit(1);
}

}  // namespace

int CDevodToolApp::Run(int argc, char** argv) {
    if (const int error = StartSockets(); error != 0) {
        ReportStartUpFailure(std::string("the network layer cannot be used: ") +
                             std::strerror(error));
        return 1;
    }
    // Without a display Qt would stop the process with a message of its own.
    if (!DisplayAvailable()) {
        ReportStartUpFailure(
            "no display: set DISPLAY or WAYLAND_DISPLAY, or run it under a virtual display");
        return 1;
    }
    QtMessageHandler previous = qInstallMessageHandler(StartUpMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("DevodTool"));
    QApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    devod::QtPrompt prompt;
    CDevodToolDlg window(prompt);
    prompt.SetParent(&window);
    // For the start-up measurement: once the window is shown and the event loop runs, say so on
    // standard output and end as if closed.
    if (const char* exit_shown = std::getenv("DEVOD_EXIT_WHEN_SHOWN");
        exit_shown != nullptr && *exit_shown != '\0') {
        QTimer::singleShot(0, &window, [] {
            std::fputs("DevodTool: window shown\n", stdout);
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    }
    window.exec();
    return 0;
}
