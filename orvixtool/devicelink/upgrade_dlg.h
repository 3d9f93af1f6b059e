// CUpgradeDlgHttp: the "Upgrade" page's behaviour, on its controls by id. It connects the device
// over USB shortly after start-up and on request, disconnects it, shows the connection state on
// its controls and in the main window (the settings page follows the same connection model), and
// runs the database update of button 1017: a file from a source (the web shop, or the PC), then
// the write that belongs to the connection kind.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/devicelink/serial_backup.h"
#include "orvixtool/devicelink/serial_database_write.h"
#include "orvixtool/devicelink/serial_device_info.h"
#include "orvixtool/devicelink/serial_search.h"
#include "orvixtool/devicelink/usb_database_write.h"
#include "orvixtool/devicelink/web_database_source.h"
#include "orvixtool/settingspage/device_backup.h"
#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/main_window_link.h"
#include "orvixtool/web/web_prompt.h"

class CUpgradeDlgHttp {
public:
    enum : int {
        kIdProgressConnect = 1006,
        kIdConnect = 1009,
        kIdDisconnect = 1012,
        kIdGroupConnect = 1013,
        kIdGroupUpgrade = 1016,
        kIdUpdateDatabase = 1017,
        kIdProgressWrite = devod::UsbDatabaseWrite::kIdProgressWrite,
    };
    enum : unsigned {
        kTimerStartup = 4096,  // 500 ms after start-up: connect
        kTimerProbe = 4097,    // 100 ms after connect: probe
        kTimerSerialWrite = devod::SerialDatabaseWrite::kTimerSerialWrite,  // serial write steps
        kTimerSerialSearch = devod::SerialSearch::kTimerSearch,  // polls the serial search
        kTimerSerialClose = 4104,                                // closes the port 50 ms after
        kTimerSerialInfo = devod::SerialDeviceInfo::kTimerInfo,  // reads versions and number
        kTimerSerialBackup = devod::SerialBackup::kTimerBackup,  // backup reads and restores
        kTimerWriteProgress = devod::UsbDatabaseWrite::kTimerWriteProgress,
        kTimerWriteDone = devod::UsbDatabaseWrite::kTimerWriteDone,
        kTimerWriteFailed = devod::UsbDatabaseWrite::kTimerWriteFailed,
    };
    using State = devod::ConnectionState;

    static constexpr const char* kCataloguePath = devod::WebDatabaseSource::kCataloguePath;
    static constexpr const char* kWorkFile = devod::WebDatabaseSource::kWorkFile;
    static constexpr const char* kWriteFailedText = devod::UsbDatabaseWrite::kWriteFailedText;
    static constexpr char kBackupCaption[] = "Backup";
    static constexpr char kBackupFailedText[] =
        "The settings and user points of the device could not be backed up before the update:\n";
    static constexpr char kBackupFailedQuestion[] = "\n\nWrite the database anyway?";
    static constexpr char kRestoreQuestion[] =
        "After the update the device's settings differ from the backup taken before it.\n\n"
        "Write the settings and user speeds of the backup back into the device?";
    static constexpr char kRestoredText[] = "The settings and user speeds were restored.";
    static constexpr char kSerialRestoreQuestion[] =
        "After the update the device's settings or user points differ from the backup taken "
        "before it.\n\nWrite them back into the device?";
    static constexpr char kSerialRestoredText[] = "The settings and user points were restored.";
    static constexpr char kPointsDifferText[] =
        "After the update the device's user points differ from the backup taken before it. User "
        "points cannot be written over USB; the backup keeps them in\n";
    static constexpr char kConnectFailedText[] =
        "Cannot connect to Z31.\n\nPlease check the USB cable is connected to \n\nthe DOWNLOAD "
        "socket on the Z31 \n\nand the necessary USB driver is installed.";

    // With `qv`, a device that is not found on USB is looked for on the serial ports through
    // QVLib; without, the page knows USB alone.
    CUpgradeDlgHttp(devod::IControls& controls, devod::ITimers& timers, devod::IPrompt& prompt,
                    devod::IWebPrompt& web_prompt, devod::ConnectionModel& connection,
                    devod::IQvLink* qv = nullptr);
    // Stops a running database write at its next block and waits for its thread.
    ~CUpgradeDlgHttp();

    // How the write thread reaches this page's thread (a queue the user-interface thread runs).
    void SetUiPost(devod::SyncChannel::Post post) { usb_write_.SetUiPost(std::move(post)); }

    void SetMainWindow(devod::IMainWindow* main) { main_ = main; }
    bool OnInitDialog();
    void OnCommand(int id);
    void OnTimer(unsigned id);

    void OnAutoConnect();
    void OnDisconnect();
    void ShowConnected();
    // Shows a connection state on both pages and in the status field.
    void EnterState(State state) { connection_.SetState(state); }

    const std::string& DatabasePath() const { return database_path_; }
    void SetDatabasePath(const std::string& path) { database_path_ = path; }

    // The database update (button 1017): a confirmed file, then the write that belongs to the
    // connection kind; the source learns how it ended.
    void OnUpdateDatabase();
    // Login, catalogue, choice and download, or a file picked on the PC; true when the database
    // file path names a file the owner confirmed for writing.
    bool PrepareDatabaseFile();
    bool ChooseLocalFile() { return web_source_.ChooseLocalFile(); }
    // The USB write of the database file path.
    bool StartUsbWrite() { return usb_write_.Start(database_path_); }

    // Connects the device on a serial port as the given model (the owner's choice by hand, or
    // what the search found): opens the port, reads the device's versions and serial number,
    // then shows the connection. False, with the connect failure shown, when the port cannot be
    // opened.
    bool ConnectSerialPort(int port, const std::string& model);
    // The owner names the port and model (the main window's context menu); offered with the last
    // ones used. Nothing happens while a write runs or when the owner cancels.
    void ChooseSerialPortByHand();
    // Before a database write over USB: the device's settings, user speeds and user points into a
    // backup file. False when that failed and the owner chose not to write anyway.
    bool BackUpBeforeWrite();
    // After a completed write: compares the device with the backup and offers to restore it.
    void CompareWithBackup();
    // Writes the settings and user speeds of a backup the owner picks back into the device (the
    // main window's context menu).
    void RestoreBackupByHand();
    // The backup taken before the last database write: its file, empty when none was taken.
    const std::string& LastBackupPath() const { return backup_path_; }
    // A line for the About box on the device connected over a serial port; empty otherwise.
    std::string DeviceLine() const;
    bool SerialLinkAvailable() const { return qv_ != nullptr; }
    // What was last read of the device on the serial port.
    const devod::SerialDeviceFacts& SerialFacts() const { return serial_facts_; }

    // A database write runs (the Updating state).
    bool WriteRunning() const {
        return usb_write_.Running() || (serial_write_ && serial_write_->Running());
    }
    // Stops a running write for good (the window is closing): the update log is told that the
    // file did not get into the device.
    void StopWrite();

    devod::UsbDatabaseWrite& UsbWrite() { return usb_write_; }
    const devod::UsbWriter& Writer() const { return usb_write_.Writer(); }

private:
    void OnConnectionChanged(const devod::ConnectionModel& connection);
    void EnableButtons(bool connect, bool disconnect, bool update);
    void OnWriteEnded(bool written);
    void OnSerialWriteEnded(bool written);
    void StartSerialSearch();
    // No device on either link: the failure message.
    void FailConnect();
    // Closes the serial port this page opened, now.
    void CloseSerialPort();
    // A database update on the serial link: the backup reads, then the write.
    void BackUpThenWriteSerial();
    void CompareSerialWithBackup();
    void RestoreSerial(const devod::SerialDeviceData& data, bool settings, bool points);

    // Tells the source how the confirmed file's update ended, once.
    void ReportPending(bool written);

    devod::IControls& controls_;
    devod::ITimers& timers_;
    devod::IPrompt& prompt_;
    devod::ConnectionModel& connection_;
    devod::IMainWindow* main_ = nullptr;
    std::string database_path_;
    devod::WebDatabaseSource web_source_;
    devod::UsbDatabaseWrite usb_write_;
    std::optional<devod::ConfirmedDatabase> pending_;  // the file being written, for its report

    // The serial link, when there is one.
    devod::IQvLink* qv_;
    std::unique_ptr<devod::SerialSearch> serial_search_;
    std::unique_ptr<devod::SerialDeviceInfo> serial_info_;
    std::unique_ptr<devod::SerialDatabaseWrite> serial_write_;
    std::unique_ptr<devod::SerialBackup> serial_backup_;
    std::optional<devod::SerialDeviceData> serial_backup_data_;
    std::string serial_model_;
    devod::SerialDeviceFacts serial_facts_;
    int open_port_ = 0;  // the serial port this page opened, 0 when none

    // The backup of the write that runs or ran last.
    std::optional<devod::usersettings::UsbDeviceData> backup_;
    std::string backup_path_;
};
