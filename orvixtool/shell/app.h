// CDevodToolApp: prepares the process and runs the main window modally; the process ends with it.
#pragma once

#include <string>

class CDevodToolApp {
public:
    // Returns the process's exit code. Platform start-up failures end it with 1 before any
    // window is shown, without a message box; one line on standard error says why.
    int Run(int argc, char** argv);

    // The network layer can be used (the program reaches the web shop). Returns 0, or the errno
    // of the failed probe.
    static int StartSockets();
    // A display the window system plugin can use is there (or one was chosen explicitly).
    static bool DisplayAvailable();
    // Writes "DevodTool: <why>" as one line to standard error.
    static void ReportStartUpFailure(const std::string& why);
};
