#include "orvixtool/settingspage/user_setting_dlg.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "orvixtool/settingspage/device_exchange.h"
#include "orvixtool/settingspage/settings_codec.h"
#include "orvixtool/shell/progress_look.h"
#include "qvlib/util/clock.h"

using namespace devod::usersettings;

namespace {

constexpr int kIdSummerControls[] = {CUserSettingDlg::kIdSummerGroup, CUserSettingDlg::kIdSummerOn,
                                     CUserSettingDlg::kIdSummerOff};
constexpr int kStateFinding = 1;
constexpr int kStateConnected = 2;

// The distance bars: white bar and text on blue, the distance written over the bar.
constexpr devod::ColorRef kBarBackground = 0x00FF6633;
constexpr devod::ColorRef kBarForeground = 0x00FFFFFF;

constexpr char kSpeedTooHighText[] = "Error: Please enter a value less than 255";
constexpr char kSettingsSavedText[] = "Save User Setting : Complete!";
constexpr char kSpeedsSavedText[] = "Save User Speed : Complete!";
constexpr char kSpeedEmptyText[] =
    "Error: User speed %d is empty.\nPlease enter a value from 0 to 255.";

void SetupDistanceBar(devod::IControls& controls, int id) {
    devod::SetProgressLook(controls, id,
                           {false, kBarBackground, kBarForeground, kBarBackground, kBarForeground});
    controls.SendMessage(id, devod::kPbmSetRange32, 0, kDistanceBarRange);
}

void ShowDistance(devod::IControls& controls, int id, int metres) {
    char text[32];
    std::snprintf(text, sizeof text, "Distance : %d m", metres);
    controls.SetText(id, text);
    controls.SendMessage(id, devod::kPbmSetPos, static_cast<uintptr_t>(kDistanceBarRange - metres),
                         0);
}

}  // namespace

CUserSettingDlg::CUserSettingDlg(devod::IControls& controls, devod::IPrompt& prompt,
                                 devod::ConnectionModel& connection, devod::IQvLink* qv)
    : controls_(controls), prompt_(prompt), connection_(connection), qv_(qv) {
    connection_.AddListener(
        [this](const devod::ConnectionModel& model) { OnConnectionChanged(model); });
    connection_.SetConnectedHandler([this] {
        if (connection_.Kind() == devod::kSerialConnection) {
            // One read gives the settings and the user speeds of a device on a serial port.
            if (SerialReady()) ReadSerialSettings();
            return;
        }
        if (connection_.Kind() != devod::kUsbConnection) return;
        ReadSettings();
        ReadUserSpeeds();
    });
}

bool CUserSettingDlg::DeviceReady() const {
    return connection_.Ready(devod::kUsbConnection) || SerialReady();
}

bool CUserSettingDlg::SerialReady() const {
    return qv_ != nullptr && connection_.Ready(devod::kSerialConnection);
}

void CUserSettingDlg::OnConnectionChanged(const devod::ConnectionModel& model) {
    switch (model.State()) {
        case devod::ConnectionState::Finding: ApplyConnectionState(kStateFinding); break;
        case devod::ConnectionState::Connected:
            if (model.Busy()) {
                ShowUpdating();
            } else {
                ApplyConnectionState(kStateConnected);
            }
            break;
        case devod::ConnectionState::Disconnected: ShowDisconnected(); break;
        case devod::ConnectionState::Updating: ShowUpdating(); break;
        case devod::ConnectionState::NotConnected: break;
    }
}

bool CUserSettingDlg::OnInitDialog() {
    SetupDistanceBar(controls_, kIdDistanceBar2);
    SetupDistanceBar(controls_, kIdDistanceBar1);

    // Each box is emptied first, so that running this again does not repeat the items.
    controls_.ComboReset(kIdWarningMode);
    for (size_t i = 0; i < kWarningModes.size(); ++i) {
        controls_.ComboInsert(kIdWarningMode, static_cast<int>(i), std::string(kWarningModes[i]));
    }
    controls_.ComboSelect(kIdWarningMode, 0);
    UpdateDistances();

    controls_.SetCheck(kIdMph, false);
    controls_.SetCheck(kIdKmh, false);

    controls_.ComboReset(kIdTimeZone);
    controls_.ComboReset(kIdClockDisplay);
    for (auto item : kClockDisplays) controls_.ComboAdd(kIdClockDisplay, std::string(item));
    for (const auto& zone : kTimeZones) controls_.ComboAdd(kIdTimeZone, std::string(zone.name));
    controls_.ComboSelect(kIdTimeZone, 0);
    controls_.ComboSelect(kIdClockDisplay, 0);
    // The summer-time radios show the choice the page starts with ("Off").
    RefreshControls();
    return true;
}

void CUserSettingDlg::OnCommand(int id) {
    switch (id) {
        case kIdSpeedRead: ReadUserSpeeds(); break;
        case kIdSpeedWrite: WriteUserSpeeds(); break;
        case kIdModeRead:
        case kIdTimeRead:
        case kIdUnitRead: ReadSettings(); break;
        case kIdModeSave: SaveWarningMode(); break;
        case kIdTimeSave: SaveLocalTime(); break;
        case kIdUnitWrite: SaveSpeedUnit(); break;
        case kIdExport: ExportUserPoints(); break;
        case kIdKmh:
        case kIdMph: UpdateUnitLabels(); break;
        case kIdWarningMode: UpdateDistances(); break;
        default: break;
    }
}

void CUserSettingDlg::OnTextChanged(int id) {
    if (id >= kIdUserSpeed1 && id <= kIdUserSpeed5) CheckSpeedField(id);
}

void CUserSettingDlg::CheckSpeedField(int id) {
    // Checked only while a device is connected over USB, when the field can be written.
    if (connection_.Kind() != devod::kUsbConnection) return;
    if (ParseSpeedField(controls_.GetText(id)) <= kMaxUserSpeed) return;
    prompt_.MessageBox(kSpeedTooHighText, devod::kAppTitle, devod::kMbOk);
    controls_.SetText(id, "");
    controls_.SetFocus(id);
}

void CUserSettingDlg::UpdateDistances() {
    auto distances = DistancesForMode(controls_.ComboSelection(kIdWarningMode));
    if (!distances) return;
    ShowDistance(controls_, kIdDistanceBar1, distances->first);
    ShowDistance(controls_, kIdDistanceBar2, distances->second);
}

void CUserSettingDlg::UpdateUnitLabels() {
    const bool mph = controls_.IsChecked(kIdMph);
    controls_.SetText(kIdDistanceLabel1, mph ? "50 mph" : "80 Km/h");
    controls_.SetText(kIdDistanceLabel2, mph ? "74.5 mph" : "120 Km/h");
}

void CUserSettingDlg::RefreshControls() {
    controls_.SetCheck(kIdSummerOn, summer_time_ == 0);
    controls_.SetCheck(kIdSummerOff, summer_time_ == 1);
}

void CUserSettingDlg::RefreshMembers() {
    if (controls_.IsChecked(kIdSummerOn)) {
        summer_time_ = 0;
    } else if (controls_.IsChecked(kIdSummerOff)) {
        summer_time_ = 1;
    } else {
        summer_time_ = -1;
    }
}

void CUserSettingDlg::EnableDeviceControls(bool enabled) {
    for (int id : kDeviceControls) controls_.Enable(id, enabled);
}

void CUserSettingDlg::ApplyConnectionState(int state) {
    if (state != kStateFinding && state != kStateConnected) return;
    const bool connected = state == kStateConnected;
    // Row 0, "the zone of the database", is offered only until the first connection.
    if (connected && controls_.ComboCount(kIdTimeZone) > 0 &&
        controls_.ComboText(kIdTimeZone, 0) == kTimeZones[0].name) {
        controls_.ComboDelete(kIdTimeZone, 0);
    }
    for (int id : kIdSummerControls) controls_.Show(id, connected);
    RefreshControls();
    EnableDeviceControls(connected);
}

void CUserSettingDlg::ShowDisconnected() {
    for (int id : kIdSummerControls) controls_.Show(id, false);
    RefreshControls();
    EnableDeviceControls(false);
}

void CUserSettingDlg::ShowUpdating() {
    RefreshControls();
    EnableDeviceControls(false);
}

int CUserSettingDlg::SelectedTimeZoneRow() const {
    const int item = controls_.ComboSelection(kIdTimeZone);
    if (item < 0) return -1;
    if (auto row = FindTimeZoneByName(controls_.ComboText(kIdTimeZone, item))) {
        return static_cast<int>(*row);
    }
    // An item of unknown text: the box as it stands after the first connection.
    return item + 1 < static_cast<int>(kTimeZones.size()) ? item + 1 : -1;
}

void CUserSettingDlg::SelectTimeZoneRow(size_t row) {
    const int count = controls_.ComboCount(kIdTimeZone);
    for (int item = 0; item < count; ++item) {
        if (controls_.ComboText(kIdTimeZone, item) == kTimeZones[row].name) {
            controls_.ComboSelect(kIdTimeZone, item);
            return;
        }
    }
}

void CUserSettingDlg::ReadSettings() {
    if (!DeviceReady()) return;
    if (SerialReady()) {
        ReadSerialSettings();
        return;
    }
    DeviceExchange exchange(connection_);
    if (!exchange.Begin()) return;
    if (RequestRecord(exchange, kSettingsRecord, settings_)) ShowSettingsBlock();
    exchange.End();
}

void CUserSettingDlg::ShowSettingsBlock() {
    const bool kmh = settings_[kByteUnit] == 1;
    controls_.SetCheck(kIdKmh, kmh);
    controls_.SetCheck(kIdMph, !kmh);
    UpdateUnitLabels();

    controls_.ComboSelect(kIdClockDisplay, settings_[kByteClock] == 1 ? 0 : 1);

    // The device keeps the offset with summer time included.
    int hours = DecodeOffset(settings_[kByteOffset]);
    if (summer_time_ == 0) hours -= 1;
    if (auto row = FindTimeZoneRow(hours)) SelectTimeZoneRow(*row);

    const uint8_t mode = settings_[kByteWarningMode];
    controls_.ComboSelect(kIdWarningMode, mode > 5 ? 0 : mode);
    UpdateDistances();
}

void CUserSettingDlg::ReadUserSpeeds() {
    if (!DeviceReady()) return;
    if (SerialReady()) {
        ReadSerialSettings();
        return;
    }
    DeviceExchange exchange(connection_);
    if (!exchange.Begin()) return;
    if (RequestRecord(exchange, kUserSpeeds, speeds_)) {
        for (size_t i = 0; i < speeds_.size(); ++i) {
            controls_.SetText(kIdUserSpeed1 + static_cast<int>(i), std::to_string(speeds_[i]));
        }
    }
    exchange.End();
}

void CUserSettingDlg::WriteFrame(std::span<const uint8_t> frame, const char* done_text) {
    if (SerialReady()) {
        // The members hold what the frame carries; the serial device takes them as its lists.
        WriteSerialSettings(done_text);
        return;
    }
    DeviceExchange exchange(connection_);
    if (!exchange.Begin()) return;
    if (!exchange.Open(/*probe=*/false, /*open_input=*/false)) return;
    if (exchange.Send(frame)) prompt_.MessageBox(done_text, devod::kAppTitle, devod::kMbOk);
    exchange.End();
}

void CUserSettingDlg::SaveWarningMode() {
    if (!DeviceReady()) return;
    const int mode = controls_.ComboSelection(kIdWarningMode);
    settings_[kByteWarningMode] = static_cast<uint8_t>(mode > 0 ? mode : 0);
    WriteFrame(SettingsWriteFrame(settings_), kSettingsSavedText);
}

void CUserSettingDlg::SaveLocalTime() {
    if (!DeviceReady()) return;
    RefreshMembers();
    const int clock = controls_.ComboSelection(kIdClockDisplay);
    settings_[kByteClock] =
        clock >= 0 && controls_.ComboText(kIdClockDisplay, clock) == kClockDisplays[0];
    // No zone chosen (or the database's zone, which has no hours of its own): offset 0.
    const int row = SelectedTimeZoneRow();
    if (row <= 0) {
        settings_[kByteOffset] = 0;
    } else {
        const int hours = kTimeZones[row].hours + (summer_time_ == 0 ? 1 : 0);
        settings_[kByteOffset] = EncodeOffset(hours);
    }
    WriteFrame(SettingsWriteFrame(settings_), kSettingsSavedText);
}

void CUserSettingDlg::SaveSpeedUnit() {
    if (!DeviceReady()) return;
    settings_[kByteUnit] = controls_.IsChecked(kIdMph) ? 0 : 1;
    WriteFrame(SettingsWriteFrame(settings_), kSettingsSavedText);
}

void CUserSettingDlg::WriteUserSpeeds() {
    if (!DeviceReady()) return;
    // An empty field (never typed, or emptied by the field check) is not a speed of 0: the owner
    // is told which field it is and nothing is written.
    std::array<uint8_t, 5> speeds{};
    for (size_t i = 0; i < speeds.size(); ++i) {
        const int id = kIdUserSpeed1 + static_cast<int>(i);
        const std::string text = controls_.GetText(id);
        if (text.find_first_not_of(" \t") == std::string::npos) {
            char message[96];
            std::snprintf(message, sizeof message, kSpeedEmptyText, static_cast<int>(i) + 1);
            prompt_.MessageBox(message, devod::kAppTitle, devod::kMbOk);
            controls_.SetFocus(id);
            return;
        }
        speeds[i] = static_cast<uint8_t>(ParseSpeedField(text) & 0xFF);
    }
    speeds_ = speeds;
    WriteFrame(SpeedsWriteFrame(speeds_), kSpeedsSavedText);
}
