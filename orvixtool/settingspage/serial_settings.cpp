#include "orvixtool/settingspage/serial_settings.h"

#include <array>

namespace devod::usersettings {

namespace {

constexpr std::array<int, 5> kWarningSeconds = {10, 15, 20, 25, 30};

}  // namespace

SettingsView ViewOfSerialSettings(const SerialSettings& lists, SettingsView view) {
    if (!lists.unit.empty()) view.settings[kByteUnit] = lists.unit[0] == 0 ? 1 : 0;
    if (!lists.clock.empty()) view.settings[kByteClock] = lists.clock[0] == 1 ? 0 : 1;
    if (!lists.summer.empty()) view.summer_time = lists.summer[0] == 1 ? 0 : 1;
    if (!lists.gmt.empty()) {
        const int hours = lists.gmt[0] / 60 + (view.summer_time == 0 ? 1 : 0);
        view.settings[kByteOffset] = EncodeOffset(hours);
    }
    if (!lists.warning.empty()) {
        uint8_t mode = 0;
        for (size_t i = 0; i < kWarningSeconds.size(); ++i) {
            if (lists.warning[0] == kWarningSeconds[i]) mode = static_cast<uint8_t>(i + 1);
        }
        view.settings[kByteWarningMode] = mode;
    }
    for (size_t i = 0; i < view.speeds.size(); ++i) {
        const int value = i < lists.speeds.size() ? lists.speeds[i] : -1;
        view.speeds[i] = value >= 0 && value <= 255 ? static_cast<uint8_t>(value) : 0;
    }
    return view;
}

SerialSettings SerialSettingsOfView(const SettingsView& view, const SerialSettings& device) {
    SerialSettings lists = device;
    lists.unit = {view.settings[kByteUnit] == 1 ? 0 : 1};
    lists.clock = {view.settings[kByteClock] == 1 ? 0 : 1};
    lists.summer = {view.summer_time == 0 ? 1 : 0};
    const int hours = DecodeOffset(view.settings[kByteOffset]) - (view.summer_time == 0 ? 1 : 0);
    if (device.gmt.empty() || device.gmt[0] / 60 != hours) lists.gmt = {hours * 60};
    const uint8_t mode = view.settings[kByteWarningMode];
    if (mode >= 1 && mode <= kWarningSeconds.size()) {
        lists.warning = {kWarningSeconds[mode - 1]};
    } else {
        bool timed = false;
        for (int s : kWarningSeconds) timed |= !device.warning.empty() && device.warning[0] == s;
        if (device.warning.empty() || timed) lists.warning = {0};
    }
    lists.speeds.clear();
    for (uint8_t speed : view.speeds) lists.speeds.push_back(speed == 0 ? -1 : speed);
    while (!lists.speeds.empty() && lists.speeds.back() == -1) lists.speeds.pop_back();
    return lists;
}

}  // namespace devod::usersettings
