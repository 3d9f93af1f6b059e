// CUpgradeDlgHttp: the "Upgrade" page's behaviour, on its controls by id. It connects the device
// over USB shortly after start-up and on request, disconnects it, and shows the connection state
// on both pages and in the main window. (The database update of button 1017 builds on this.)
#pragma once

#include <string>

#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/main_window_link.h"

class CUpgradeDlgHttp {
public:
    enum : int {
        kIdProgressConnect = 1006,
        kIdConnect = 1009,
        kIdDisconnect = 1012,
        kIdGroupConnect = 1013,
        kIdGroupUpgrade = 1016,
        kIdUpdateDatabase = 1017,
        kIdProgressWrite = 1018,
    };
    enum : unsigned {
        kTimerStartup = 4096,       // 500 ms after start-up: connect
        kTimerProbe = 4097,         // 100 ms after connect: probe
        kTimerSerialWrite = 4098,   // steps of a write through the serial library
        kTimerWriteProgress = 4100, // copies the write progress to 1018
        kTimerWriteDone = 4101,     // completion message
        kTimerWriteFailed = 4102,   // failure message
    };
    enum class State { Finding, Connected, Disconnected, Updating };

    static constexpr char kConnectFailedText[] =
        "Cannot connect to Z31.\n\nPlease check the USB cable is connected to \n\nthe DOWNLOAD "
        "socket on the Z31 \n\nand the necessary USB driver is installed.";

    // Sets the connection kind to "no device".
    CUpgradeDlgHttp(devod::IControls& controls, devod::ITimers& timers, devod::IPrompt& prompt);
    virtual ~CUpgradeDlgHttp();

    void SetMainWindow(devod::IMainWindow* main) { main_ = main; }
    bool OnInitDialog();
    void OnCommand(int id);
    void OnTimer(unsigned id);

    void OnAutoConnect();
    void OnDisconnect();
    void ShowConnected();
    // Shows a connection state on this page, the other page and the status field.
    void EnterState(State state);

    // The buttons of this page during a settings exchange of the other page.
    void EnableButtons(bool connect, bool disconnect, bool update);

    const std::string& DatabasePath() const { return database_path_; }
    void SetDatabasePath(const std::string& path) { database_path_ = path; }

protected:
    devod::IControls& controls_;
    devod::ITimers& timers_;
    devod::IPrompt& prompt_;
    devod::IMainWindow* main_ = nullptr;
    std::string database_path_;
};
