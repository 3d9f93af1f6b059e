// CUpgradeDlgHttp: the "Upgrade" page's behaviour, on its controls by id. It connects the device
// over USB shortly after start-up and on request, disconnects it, and shows the connection state
// on both pages and in the main window, and runs the database update of button 1017: a database
// file from the web shop or from the PC, streamed into the device by a worker thread.
#pragma once

#include <memory>
#include <string>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/sync_channel.h"
#include "orvixtool/devicelink/usb_writer.h"
#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/main_window_link.h"

class CHttpClient;

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

    static constexpr char kCataloguePath[] = "/kvshop/section.php?xSec=374";
    static constexpr char kWorkFile[] = "tmpDB";
    static constexpr char kCannotConnectServerText[] =
        "Cannot connect to server.\r\nPlease check your internet connection is working normally"
        "\r\n\t\t\t\t\t\t\t\t and your security settings are not preventing the Z31 Software "
        "Tool\r\nfrom accessing the internet.\r\n\r\nDo you want to update manually?";
    static constexpr char kWriteFailedText[] = "Error : DB write fail   \n\n  Retry to download!";

    static constexpr char kConnectFailedText[] =
        "Cannot connect to Z31.\n\nPlease check the USB cable is connected to \n\nthe DOWNLOAD "
        "socket on the Z31 \n\nand the necessary USB driver is installed.";

    // Sets the connection kind to "no device".
    CUpgradeDlgHttp(devod::IControls& controls, devod::ITimers& timers, devod::IPrompt& prompt);
    // Stops a running database write at its next block and waits for its thread.
    virtual ~CUpgradeDlgHttp();

    // How the write thread reaches this page's thread (a queue the user-interface thread runs).
    void SetUiPost(devod::SyncChannel::Post post);

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

    // The database update (button 1017): a confirmed file, then the write that belongs to the
    // connection kind.
    void OnUpdateDatabase();
    // Login, catalogue, choice and download, or a file picked on the PC; true when the database
    // file path names a file the owner confirmed for writing.
    bool PrepareDatabaseFile();
    bool ChooseLocalFile();
    // Checks and reads the file, shows the Updating state and starts the write thread.
    bool StartUsbWrite();
    // The write thread's end, delivered on this page's thread.
    void OnWriteFinished();
    void OnWriteFailed();
    void OnWriteProgressTimer();
    const devod::UsbWriter& Writer() const { return writer_; }

protected:
    bool ManualPath(CHttpClient& client, const std::string& email);
    bool FailStart(const std::string& text);

    devod::IControls& controls_;
    devod::ITimers& timers_;
    devod::IPrompt& prompt_;
    devod::IMainWindow* main_ = nullptr;
    std::string database_path_;
    // The running database write: the thread, the PipeBridge module held for it, and the
    // channel its end messages travel on.
    devod::UsbWriter writer_;
    std::unique_ptr<devod::PipeBridge> write_bridge_;
    std::unique_ptr<devod::SyncChannel> channel_;
    devod::SyncChannel::Post ui_post_;
    uint32_t last_shown_ = 0;
    bool write_reported_ = true;
};
