#include "orvixtool/settingspage/device_exchange.h"

namespace devod::usersettings {

DeviceExchange::~DeviceExchange() { End(); }

bool DeviceExchange::Begin() {
    link_.emplace();
    if (!link_->Loaded()) {
        link_.reset();
        return false;
    }
    model_.SetBusy(true);
    return true;
}

bool DeviceExchange::Open(bool probe, bool open_input) {
    if (!link_) return false;
    if (link_->Open(probe, open_input)) return true;
    link_.reset();
    model_.Disconnect();
    return false;
}

void DeviceExchange::End() {
    if (!link_) return;
    link_.reset();
    model_.SetBusy(false);
}

}  // namespace devod::usersettings
