// CUserSettingDlg: the "UserSetting" page's behaviour, on its controls by id. It shows the device's
// user settings, checks what the owner types, reads and writes the settings record and the user
// speeds over USB, and exports the device's user points to a tab-separated ".xls" file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/main_window_link.h"

namespace devod::usersettings {
class DeviceExchange;
}

class CUserSettingDlg {
public:
    // Control ids of the page.
    enum : int {
        kIdUserSpeed1 = 1020,
        kIdUserSpeed2,
        kIdUserSpeed3,
        kIdUserSpeed4,
        kIdUserSpeed5,
        kIdSpeedRead = 1030,
        kIdSpeedWrite = 1031,
        kIdDistanceBar1 = 1034,
        kIdDistanceBar2 = 1035,
        kIdDistanceLabel1 = 1036,
        kIdDistanceLabel2 = 1037,
        kIdWarningMode = 1038,
        kIdModeRead = 1039,
        kIdModeSave = 1040,
        kIdExport = 1089,
        kIdKmh = 1078,
        kIdMph = 1080,
        kIdUnitRead = 1081,
        kIdUnitWrite = 1082,
        kIdSummerGroup = 1009,
        kIdSummerOn = 1000,
        kIdSummerOff = 1001,
        kIdClockDisplay = 1002,
        kIdTimeZone = 1060,
        kIdTimeRead = 1062,
        kIdTimeSave = 1063,
    };
    // The eleven device controls, enabled and disabled together, in this order.
    static constexpr std::array<int, 11> kDeviceControls = {1002, 1060, 1081, 1082, 1062, 1063,
                                                            1030, 1031, 1089, 1039, 1040};

    // Observes the connection: shows each of its states on this page's controls, and reads the
    // device's settings and user speeds whenever a USB connection has been made.
    // With `qv`, the same operations run through QVLib for a device on a serial port (each waits
    // for the library's request to end, at most kSerialRequestLimitMs).
    CUserSettingDlg(devod::IControls& controls, devod::IPrompt& prompt,
                    devod::ConnectionModel& connection, devod::IQvLink* qv = nullptr);
    static constexpr uint32_t kSerialRequestLimitMs = 15000;
    static constexpr char kSerialFailedText[] = "The Z31 did not answer on its serial port.";

    bool OnInitDialog();
    // Button clicks, selection and text changes, by control id.
    void OnCommand(int id);
    void OnTextChanged(int id);

    // 1 while the device is being found, 2 when connected.
    void ApplyConnectionState(int state);
    // The Disconnected and Updating states of the connection, as this page shows them.
    void ShowDisconnected();
    void ShowUpdating();
    void OnConnectionChanged(const devod::ConnectionModel& connection);

    // The device operations. Each does nothing, and changes nothing, unless a device is connected
    // (over USB, or on a serial port through QVLib) and free.
    void ReadSettings();    // settings record read
    void ReadUserSpeeds();  // user speed read
    void SaveWarningMode();
    void SaveLocalTime();
    void SaveSpeedUnit();
    void WriteUserSpeeds();
    void ExportUserPoints();
    void UpdateDistances();

    const std::array<uint8_t, 6>& SettingsBlock() const { return settings_; }
    const std::array<uint8_t, 5>& UserSpeeds() const { return speeds_; }
    int SummerTimeChoice() const { return summer_time_; }

private:
    bool DeviceReady() const;
    bool SerialReady() const;
    // Serial link: one QVLib request run to its end, the device held busy meanwhile; true for
    // result 1.
    bool RunSerialRequest(int (devod::IQvLink::*request)(int));
    void ReadSerialSettings();
    void WriteSerialSettings(const char* done_text);
    void ExportSerialUserPoints();
    // The summer-time radios from the member, and the member from the radios.
    void RefreshControls();
    void RefreshMembers();
    void EnableDeviceControls(bool enabled);
    void UpdateUnitLabels();
    void CheckSpeedField(int id);
    void ShowSettingsBlock();
    // Writes one frame to the device; `done_text` is shown when the write succeeded.
    void WriteFrame(std::span<const uint8_t> frame, const char* done_text);
    // Time zone box item <-> table row, whether or not the box still offers row 0.
    int SelectedTimeZoneRow() const;
    void SelectTimeZoneRow(size_t row);

    devod::IControls& controls_;
    devod::IPrompt& prompt_;
    devod::ConnectionModel& connection_;
    // Byte 1 speed unit, 3 clock display, 4 hours offset, 5 warning mode; 0 and 2 kept as read.
    std::array<uint8_t, 6> settings_{};
    std::array<uint8_t, 5> speeds_{};
    int summer_time_ = 1;  // 0 "On", 1 "Off", -1 neither
    devod::IQvLink* qv_;
    devod::SerialSettings serial_lists_;  // the serial device's lists as last read
};
