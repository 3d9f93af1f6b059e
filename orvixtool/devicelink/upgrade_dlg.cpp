#include "orvixtool/devicelink/upgrade_dlg.h"

#include <filesystem>

#include "orvixtool/config/settings.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/shell/command_guard.h"
#include "orvixtool/shell/progress_look.h"

using namespace devod;

namespace {

constexpr ColorRef kWhite = 0x00FFFFFF;
constexpr ColorRef kBlue = 0x00FF6633;

}  // namespace

CUpgradeDlgHttp::CUpgradeDlgHttp(IControls& controls, ITimers& timers, IPrompt& prompt,
                                 IWebPrompt& web_prompt, ConnectionModel& connection, IQvLink* qv)
    : controls_(controls),
      timers_(timers),
      prompt_(prompt),
      connection_(connection),
      web_source_(prompt, web_prompt, database_path_),
      usb_write_(controls, timers, prompt, connection,
                 [this](bool written) { OnWriteEnded(written); }),
      qv_(qv) {
    if (qv_ != nullptr) {
        serial_search_ = std::make_unique<SerialSearch>(timers_, *qv_);
        serial_info_ = std::make_unique<SerialDeviceInfo>(timers_, *qv_);
        serial_backup_ = std::make_unique<SerialBackup>(timers_, *qv_);
        serial_write_ = std::make_unique<SerialDatabaseWrite>(
            controls_, timers_, prompt_, connection_, *qv_,
            [this](bool written) { OnSerialWriteEnded(written); });
    }
    connection_.SetKind(kNoConnection);
    connection_.AddListener([this](const ConnectionModel& model) { OnConnectionChanged(model); });
}

CUpgradeDlgHttp::~CUpgradeDlgHttp() {
    if (qv_ == nullptr) return;
    serial_write_->Stop();
    serial_search_->Cancel();
    serial_info_->Cancel();
    serial_backup_->Cancel();
    // Closing the port ends whatever request still runs on it.
    CloseSerialPort();
}

bool CUpgradeDlgHttp::OnInitDialog() {
    SetProgressLook(controls_, kIdProgressConnect, {false, kWhite, kBlue, kBlue, kWhite});
    controls_.SendMessage(kIdProgressConnect, kPbmSetRange32, 0, 4);
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);

    SetProgressLook(controls_, kIdProgressWrite, {true, kWhite, kBlue, kWhite, kBlue});

    timers_.SetTimer(kTimerStartup, 500);
    return true;
}

void CUpgradeDlgHttp::OnCommand(int id) {
    switch (id) {
        case kIdConnect: OnAutoConnect(); break;
        case kIdDisconnect: OnDisconnect(); break;
        case kIdUpdateDatabase: OnUpdateDatabase(); break;
        default: break;
    }
}

void CUpgradeDlgHttp::OnTimer(unsigned id) {
    switch (id) {
        case kTimerStartup:
            timers_.KillTimer(kTimerStartup);
            OnAutoConnect();
            break;
        case kTimerProbe:
            timers_.KillTimer(kTimerProbe);
            if (DevicePresent()) {
                connection_.SetKind(kUsbConnection);
                if (main_ != nullptr) main_->SetConnectionLabel("USB");
                ShowConnected();
            } else if (qv_ != nullptr) {
                StartSerialSearch();
            } else {
                FailConnect();
            }
            break;
        case kTimerSerialClose:
            timers_.KillTimer(kTimerSerialClose);
            CloseSerialPort();
            break;
        default:
            if (usb_write_.OnTimer(id)) {
                // The completion box has been shown: now the device is compared with its backup.
                if (id == kTimerWriteDone) RunCommand(prompt_, [&] { CompareWithBackup(); });
                break;
            }
            if (qv_ != nullptr) {
                if (serial_write_->OnTimer(id) || serial_search_->OnTimer(id) ||
                    serial_info_->OnTimer(id) || serial_backup_->OnTimer(id)) {
                    break;
                }
            }
            break;
    }
}

void CUpgradeDlgHttp::OnAutoConnect() {
    // A port still open from the last connection is closed before the search.
    CloseSerialPort();
    EnterState(State::Finding);
    timers_.SetTimer(kTimerProbe, 100);
}

void CUpgradeDlgHttp::FailConnect() {
    if (qv_ != nullptr && main_ != nullptr) main_->SetConnectionLabel("NO CONNECTION");
    OnDisconnect();
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
    prompt_.MessageBox(kConnectFailedText, "FAIL", kMbOk);
}

void CUpgradeDlgHttp::StartSerialSearch() {
    const auto order = SerialSearch::SearchOrder(qv_->ModelNames(), Settings().SerialModel());
    serial_search_->Start(
        order,
        [this](const std::string& text) {
            if (main_ != nullptr) main_->SetStatus(text);
        },
        [this](const std::optional<SerialSearch::Found>& found) {
            if (found) {
                ConnectSerialPort(found->port, found->model);
            } else {
                FailConnect();
            }
        });
}

bool CUpgradeDlgHttp::ConnectSerialPort(int port, const std::string& model) {
    if (qv_ == nullptr || WriteRunning()) return false;
    serial_search_->Cancel();
    serial_info_->Cancel();
    CloseSerialPort();
    if (connection_.State() != State::Finding) EnterState(State::Finding);
    if (qv_->OpenDevice(model, port) != 1) {
        FailConnect();
        return false;
    }
    open_port_ = port;
    serial_model_ = model;
    connection_.SetKind(kSerialConnection, port);
    if (main_ != nullptr) {
        main_->SetConnectionLabel("COM" + std::to_string(port));
        main_->SetStatus("Reading the device on COM" + std::to_string(port));
    }
    Settings settings;
    settings.SetSerialPort(port);
    settings.SetSerialModel(model);
    serial_facts_ = {};
    serial_info_->Start(port, SerialDeviceInfo::What::kEverything,
                        [this](const SerialDeviceFacts& facts) {
                            serial_facts_ = facts;
                            ShowConnected();
                        });
    return true;
}

void CUpgradeDlgHttp::ChooseSerialPortByHand() {
    if (qv_ == nullptr || WriteRunning() || connection_.State() == State::Finding) return;
    Settings settings;
    SerialChoice initial{settings.SerialPort().value_or(1), settings.SerialModel().value_or("")};
    const auto choice = prompt_.ChooseSerialPort(qv_->ModelNames(), initial);
    if (!choice) return;
    ConnectSerialPort(choice->port, choice->model);
}

std::string CUpgradeDlgHttp::DeviceLine() const {
    if (connection_.Kind() != kSerialConnection) return "";
    const std::string facts = serial_facts_.Summary();
    return "COM" + std::to_string(connection_.Port()) + (facts.empty() ? "" : ": " + facts);
}

void CUpgradeDlgHttp::CloseSerialPort() {
    timers_.KillTimer(kTimerSerialClose);
    if (open_port_ == 0 || qv_ == nullptr) return;
    qv_->CloseDevice(open_port_);
    open_port_ = 0;
}

void CUpgradeDlgHttp::ShowConnected() {
    EnterState(State::Connected);
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
    connection_.AnnounceConnected();  // the settings page reads the device's settings
    // The reads may have found the device gone and dropped the connection: then there is no
    // success to tell.
    if (connection_.State() != State::Connected || connection_.Kind() == kNoConnection) return;
    prompt_.MessageBox("", "SUCCESS", kMbOk);
}

void CUpgradeDlgHttp::OnDisconnect() { connection_.Disconnect(); }

void CUpgradeDlgHttp::EnableButtons(bool connect, bool disconnect, bool update) {
    controls_.Enable(kIdConnect, connect);
    controls_.Enable(kIdDisconnect, disconnect);
    controls_.Enable(kIdUpdateDatabase, update);
}

void CUpgradeDlgHttp::OnConnectionChanged(const ConnectionModel& model) {
    const char* status = nullptr;
    std::string connected_status;
    switch (model.State()) {
        case State::NotConnected: return;
        case State::Finding:
            status = "Find the GPS";
            EnableButtons(false, false, false);
            break;
        case State::Connected:
            status = "Connected";
            if (model.Kind() == kSerialConnection && !serial_facts_.Summary().empty()) {
                connected_status = "Connected  " + serial_facts_.Summary();
                status = connected_status.c_str();
            }
            // A settings exchange holds the device: nothing else may start meanwhile.
            EnableButtons(false, !model.Busy(), !model.Busy());
            break;
        case State::Disconnected:
            status = "Disconnect";
            EnableButtons(true, false, false);
            controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
            // The serial port is closed a moment later, once the device has taken the last
            // bytes sent.
            if (open_port_ != 0) timers_.SetTimer(kTimerSerialClose, 50);
            break;
        case State::Updating:
            status = "Updating DB";
            EnableButtons(false, false, false);
            break;
    }
    if (main_ != nullptr) main_->SetStatus(status);
}

bool CUpgradeDlgHttp::PrepareDatabaseFile() {
    web_source_.SetSerialLink(connection_.Kind() == kSerialConnection);
    pending_ = web_source_.Prepare();
    return pending_.has_value();
}

void CUpgradeDlgHttp::OnUpdateDatabase() {
    if (!PrepareDatabaseFile()) return;
    if (connection_.Kind() == kUsbConnection) {
        if (!BackUpBeforeWrite()) {
            ReportPending(false);
            return;
        }
        if (StartUsbWrite()) return;  // reported at its end
    }
    if (connection_.Kind() == kSerialConnection && serial_write_) {
        BackUpThenWriteSerial();  // reported at its end
        return;
    }
    ReportPending(false);
}

void CUpgradeDlgHttp::OnWriteEnded(bool written) {
    // Runs from the write thread's end message, outside any command: an internet failure of the
    // log is shown here.
    RunCommand(prompt_, [&] { ReportPending(written); });
}

bool CUpgradeDlgHttp::BackUpBeforeWrite() {
    using namespace devod::usersettings;
    backup_.reset();
    backup_path_.clear();
    std::string error;
    auto data = ReadUsbDeviceData(connection_, &error);
    std::string path;
    if (data) path = SaveBackup(*data, &error);
    if (data && !path.empty()) {
        backup_ = std::move(*data);
        backup_path_ = path;
        return true;
    }
    return prompt_.MessageBox(std::string(kBackupFailedText) + error + kBackupFailedQuestion,
                              kBackupCaption, kMbYesNo | kMbIconExclamation) == kIdYes;
}

void CUpgradeDlgHttp::CompareWithBackup() {
    using namespace devod::usersettings;
    if (!backup_) return;
    const UsbDeviceData backup = std::move(*backup_);
    backup_.reset();
    if (!connection_.Ready(kUsbConnection)) return;
    std::string error;
    const auto now = ReadUsbDeviceData(connection_, &error);
    if (!now) {
        prompt_.MessageBox(
            "The device could not be read to compare it with the backup taken "
            "before the update:\n" +
                error + "\n\nThe backup is kept in\n" + backup_path_,
            kBackupCaption, kMbOk | kMbIconExclamation);
        return;
    }
    if (!now->SameSettings(backup) && prompt_.MessageBox(kRestoreQuestion, kBackupCaption,
                                                         kMbYesNo | kMbIconQuestion) == kIdYes) {
        if (WriteUsbSettings(connection_, backup, &error)) {
            prompt_.MessageBox(kRestoredText, kBackupCaption, kMbOk);
        } else {
            prompt_.MessageBox("The settings could not be restored: " + error, kBackupCaption,
                               kMbOk | kMbIconExclamation);
        }
    }
    if (now->points != backup.points) {
        prompt_.MessageBox(kPointsDifferText + backup_path_, kBackupCaption,
                           kMbOk | kMbIconExclamation);
    }
}

void CUpgradeDlgHttp::RestoreBackupByHand() {
    using namespace devod::usersettings;
    const bool serial = connection_.Ready(kSerialConnection) && serial_backup_ != nullptr;
    if (!serial && !connection_.Ready(kUsbConnection)) {
        prompt_.MessageBox("Connect the device to restore a backup.", kBackupCaption, kMbOk);
        return;
    }
    FileDialogRequest request;
    request.save = false;
    request.filter = "Backup Files (*.gpx)|*.gpx|";
    request.default_extension = "gpx";
    request.initial_name = "*.gpx";
    request.initial_folder = BackupFolder();
    request.file_must_exist = true;
    const auto path = prompt_.FileDialog(request);
    if (!path) return;
    std::string error;
    const std::string name = std::filesystem::path(*path).filename().string();
    if (serial) {
        const auto data = LoadSerialBackup(*path, &error);
        if (!data) {
            prompt_.MessageBox("This file cannot be restored: " + error, kBackupCaption,
                               kMbOk | kMbIconExclamation);
            return;
        }
        if (prompt_.MessageBox(
                "Write the settings and user points of \"" + name + "\" into the device?",
                kBackupCaption, kMbYesNo | kMbIconQuestion) == kIdYes) {
            RestoreSerial(*data, true, true);
        }
        return;
    }
    const auto data = LoadBackup(*path, &error);
    if (!data) {
        prompt_.MessageBox("This file cannot be restored: " + error, kBackupCaption,
                           kMbOk | kMbIconExclamation);
        return;
    }
    if (prompt_.MessageBox(
            "Write the settings and user speeds of \"" + name + "\" into the device?",
            kBackupCaption, kMbYesNo | kMbIconQuestion) != kIdYes) {
        return;
    }
    if (WriteUsbSettings(connection_, *data, &error)) {
        prompt_.MessageBox(kRestoredText, kBackupCaption, kMbOk);
    } else {
        prompt_.MessageBox("The settings could not be restored: " + error, kBackupCaption,
                           kMbOk | kMbIconExclamation);
    }
}

void CUpgradeDlgHttp::BackUpThenWriteSerial() {
    serial_backup_data_.reset();
    backup_path_.clear();
    connection_.SetBusy(true);  // nothing else may start while the device is read
    serial_backup_->Read(open_port_, [this](const std::optional<SerialDeviceData>& data,
                                            const std::string& error) {
        connection_.SetBusy(false);
        std::string why = error;
        std::string path;
        if (data) {
            path = usersettings::SaveBackupText(
                FormatSerialBackup(*data, open_port_, serial_model_, usersettings::BackupTime()),
                &why);
        }
        if (data && !path.empty()) {
            serial_backup_data_ = *data;
            backup_path_ = path;
        } else if (prompt_.MessageBox(std::string(kBackupFailedText) + why + kBackupFailedQuestion,
                                      kBackupCaption, kMbYesNo | kMbIconExclamation) != kIdYes) {
            ReportPending(false);
            return;
        }
        if (!serial_write_->Start(database_path_)) ReportPending(false);
    });
}

void CUpgradeDlgHttp::OnSerialWriteEnded(bool written) {
    OnWriteEnded(written);
    if (!written || connection_.Kind() != kSerialConnection) return;
    // The database version again, so that the owner sees the update took; then the device is
    // compared with its backup.
    serial_info_->Start(open_port_, SerialDeviceInfo::What::kDatabaseVersion,
                        [this](const SerialDeviceFacts& facts) {
                            serial_facts_.database = facts.database;
                            if (connection_.State() == State::Connected) {
                                EnterState(State::Connected);
                            }
                            CompareSerialWithBackup();
                        });
}

void CUpgradeDlgHttp::CompareSerialWithBackup() {
    if (!serial_backup_data_ || !connection_.Ready(kSerialConnection)) return;
    connection_.SetBusy(true);
    serial_backup_->Read(
        open_port_, [this](const std::optional<SerialDeviceData>& now, const std::string& error) {
            connection_.SetBusy(false);
            const SerialDeviceData backup = std::move(*serial_backup_data_);
            serial_backup_data_.reset();
            if (!now) {
                prompt_.MessageBox(
                    "The device could not be read to compare it with the backup taken "
                    "before the update:\n" +
                        error + "\n\nThe backup is kept in\n" + backup_path_,
                    kBackupCaption, kMbOk | kMbIconExclamation);
                return;
            }
            const bool settings = !(now->settings == backup.settings);
            const bool points = !SamePoints(now->points, backup.points);
            if (!settings && !points) return;
            if (prompt_.MessageBox(kSerialRestoreQuestion, kBackupCaption,
                                   kMbYesNo | kMbIconQuestion) == kIdYes) {
                RestoreSerial(backup, settings, points);
            }
        });
}

void CUpgradeDlgHttp::RestoreSerial(const SerialDeviceData& data, bool settings, bool points) {
    connection_.SetBusy(true);
    serial_backup_->Write(
        open_port_, data, settings, points, [this](bool written, const std::string& error) {
            connection_.SetBusy(false);
            prompt_.MessageBox(written ? std::string(kSerialRestoredText)
                                       : "The backup could not be restored: " + error,
                               kBackupCaption, written ? kMbOk : kMbOk | kMbIconExclamation);
        });
}

void CUpgradeDlgHttp::ReportPending(bool written) {
    if (!pending_) return;
    ConfirmedDatabase database = std::move(*pending_);
    pending_.reset();
    web_source_.Report(database, written);
}

void CUpgradeDlgHttp::StopWrite() {
    if (!WriteRunning()) return;
    if (usb_write_.Running()) usb_write_.Stop();
    if (serial_write_ && serial_write_->Running()) serial_write_->Stop();
    RunCommand(prompt_, [&] { ReportPending(false); });
}
