// CDevodToolApp: prepares the process and runs the main window modally; the process ends with it.
#pragma once

class CDevodToolApp {
public:
    // Returns the process's exit code. Platform start-up failures end it before any window is
    // shown, without a message.
    int Run(int argc, char** argv);

    // The network layer can be used (the program reaches the web shop).
    static bool StartSockets();
    // A display the window system plugin can use is there (or one was chosen explicitly).
    static bool DisplayAvailable();
};
