#include "orvixtool/settingspage/device_exchange.h"

#include <algorithm>

#include "orvixtool/settingspage/settings_codec.h"
#include "qvlib/util/clock.h"

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

bool RequestRecord(DeviceExchange& exchange, uint8_t kind, std::span<uint8_t> dest) {
    if (!exchange.Open(/*probe=*/true, /*open_input=*/true)) return false;
    if (!exchange.Send(ReadRequest(static_cast<RecordKind>(kind)))) return false;
    util::SleepMs(kReplyDelayMs);
    std::array<uint8_t, kReplySize> reply{};
    size_t received = 0;
    if (!exchange.Receive(reply, &received) || received < dest.size()) return false;
    std::copy_n(reply.begin(), dest.size(), dest.begin());
    return true;
}

}  // namespace devod::usersettings
