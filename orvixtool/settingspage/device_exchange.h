// One exchange of the UserSetting page with the device over USB: it holds the USB link for the
// operation, shows the device busy on both pages while it runs (through the connection model),
// moves the frames, and at the end gives the pages back or, when the device turned out to be
// gone, drops the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/usb_exchange.h"

namespace devod::usersettings {

class DeviceExchange {
public:
    explicit DeviceExchange(ConnectionModel& model) : model_(model) {}
    // An exchange still running (a failure that left its command early) is ended, so that the
    // pages never stay busy.
    ~DeviceExchange();
    DeviceExchange(const DeviceExchange&) = delete;
    DeviceExchange& operator=(const DeviceExchange&) = delete;

    // Loads PipeBridge and shows the device busy. False, with nothing changed, when the library
    // cannot be loaded.
    bool Begin();
    // Probes for the device (when asked) and opens PIPE00 and, when asked, PIPE01. On failure
    // the device counts as gone: everything is closed and the connection dropped; the exchange
    // is over and End does nothing.
    bool Open(bool probe, bool open_input);
    bool Send(std::span<const uint8_t> frame) { return link_->Send(frame); }
    bool Receive(std::span<uint8_t> buffer, size_t* received) {
        return link_->Receive(buffer, received);
    }
    // Closes the pipes, releases PipeBridge and shows the connection free again.
    void End();

private:
    ConnectionModel& model_;
    std::optional<UsbExchange> link_;  // present from Begin until the exchange is over
};

// Opens the pipes (probing first), asks for one record and copies the first `dest.size()` bytes of
// the reply; false, with nothing copied, when any step fails or the reply is shorter.
bool RequestRecord(DeviceExchange& exchange, uint8_t kind, std::span<uint8_t> dest);

}  // namespace devod::usersettings
