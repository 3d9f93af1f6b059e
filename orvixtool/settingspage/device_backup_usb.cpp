// The device side of the USB backups: reading what a backup keeps from the device, and writing
// the settings record and the user speeds back.
#include <string>
#include <utility>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/settingspage/device_backup.h"
#include "orvixtool/settingspage/device_exchange.h"

namespace devod::usersettings {
namespace {

std::optional<UsbDeviceData> Refuse(std::string* error, std::string why) {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
}

}  // namespace

std::optional<UsbDeviceData> ReadUsbDeviceData(ConnectionModel& model, std::string* error) {
    UsbDeviceData data;
    DeviceExchange exchange(model);
    if (!exchange.Begin()) return Refuse(error, "the USB library cannot be loaded");
    if (!RequestRecord(exchange, kSettingsRecord, data.settings)) {
        return Refuse(error, "the device did not send its settings");
    }
    if (!RequestRecord(exchange, kUserSpeeds, data.speeds)) {
        return Refuse(error, "the device did not send its user speeds");
    }
    if (!exchange.Open(/*probe=*/false, /*open_input=*/true)) {
        return Refuse(error, "the device did not open for its user points");
    }
    std::string why;
    auto points = FetchUserPoints(exchange, &why);
    exchange.End();
    if (!points) return Refuse(error, why);
    data.points = std::move(*points);
    return data;
}

bool WriteUsbSettings(ConnectionModel& model, const UsbDeviceData& data, std::string* error) {
    for (const Frame& frame : {SettingsWriteFrame(data.settings), SpeedsWriteFrame(data.speeds)}) {
        DeviceExchange exchange(model);
        if (!exchange.Begin()) {
            *error = "the USB library cannot be loaded";
            return false;
        }
        if (!exchange.Open(/*probe=*/false, /*open_input=*/false)) {
            *error = "the device cannot be reached";
            return false;
        }
        const bool sent = exchange.Send(frame);
        if (!sent) *error = "the device did not take the settings: " + devod::LastErrorText();
        exchange.End();
        if (!sent) return false;
    }
    return true;
}

}  // namespace devod::usersettings
