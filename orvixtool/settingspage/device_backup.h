// A backup of what an owner keeps in a device connected over USB (its settings record, user
// speeds and user points), taken before every database write so that nothing is lost when the
// write leaves the device changed, and written back on request.
//
// The backup file is GPX 1.1, so that the points open in map programs too: the points are its
// waypoints (as the GPX export writes them), and the settings record and the user speeds sit in
// the metadata's extension, <qv:backup link="usb" settings="000100018903" speeds="50,60,70,80,90"/>.
// Backups are kept in $XDG_DATA_HOME/DevodTool/backups (~/.local/share/... without it), one file a
// backup named after its time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/settingspage/settings_codec.h"
#include "orvixtool/settingspage/user_point_export.h"

namespace devod::usersettings {

struct UsbDeviceData {
    SettingsBlock settings{};
    SpeedBlock speeds{};
    std::vector<UserPoint> points;
    bool operator==(const UsbDeviceData&) const = default;
    // The settings record and the user speeds alike (what a write over USB can put back).
    bool SameSettings(const UsbDeviceData& other) const {
        return settings == other.settings && speeds == other.speeds;
    }
};

// Reads the settings record, the user speeds and the user points over USB, as the page reads
// each. Nothing, with the reason in `error`, when the device does not answer them all.
std::optional<UsbDeviceData> ReadUsbDeviceData(ConnectionModel& model, std::string* error);

// Writes the settings record and the user speeds of `data` into the device. The user points have
// no write over USB. False, with the reason, when a frame could not be sent.
bool WriteUsbSettings(ConnectionModel& model, const UsbDeviceData& data, std::string* error);

// The backup file's text; `time_utc` as "2026-12-10T02:20:00Z".
std::string FormatBackup(const UsbDeviceData& data, const std::string& time_utc);
// The reverse; nothing, with the reason, for a file that is not such a backup.
std::optional<UsbDeviceData> ParseBackup(const std::string& text, std::string* error);

// The folder of the backups (not made here); empty when there is no home to put it in.
std::string BackupFolder();
// Saves a backup named "backup-YYYYMMDD-HHMMSS.gpx" after the present time (with "-2", "-3", ...
// when that name is taken) in the folder, made first when missing. The file's path, or empty
// with the reason in `error`.
std::string SaveBackup(const UsbDeviceData& data, std::string* error);
// Saves the text of any backup as SaveBackup does; the file's path, or empty with the reason.
std::string SaveBackupText(const std::string& text, std::string* error);
// The present time as a backup records it: "2026-12-10T02:20:00Z".
std::string BackupTime();
// Reads a backup file; nothing, with the reason, when it cannot be read or is not a backup.
std::optional<UsbDeviceData> LoadBackup(const std::string& path, std::string* error);

}  // namespace devod::usersettings
