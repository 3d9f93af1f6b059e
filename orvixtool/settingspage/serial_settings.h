// The settings of a device on a serial port, as QVLib holds them (six lists of values), in the
// shape the page shows and edits for a device on USB (the settings record and the user speeds),
// and back. What the page cannot show is kept as the device has it.
#pragma once

#include <vector>

#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/settingspage/settings_codec.h"

namespace devod::usersettings {

// The page's view of the lists: the record's bytes and the user speeds, and the summer-time
// choice (0 on, 1 off). Values a list does not hold keep what `view` had.
struct SettingsView {
    SettingsBlock settings{};
    SpeedBlock speeds{};
    int summer_time = 1;
};

// Lists to view: speed unit 0 is km/h; clock 1 is the 24-hour clock; the record's offset holds
// the hours with summer time included (as a USB device keeps it); warning seconds 10 to 30 are
// the modes 1 to 5, anything else the distance warning; a user speed without a value shows as 0.
SettingsView ViewOfSerialSettings(const SerialSettings& lists, SettingsView view);
// View to lists, starting from the device's lists: a GMT offset in minutes that the view's hours
// still match (a half-hour zone) is kept; a user speed of 0 is "no value".
SerialSettings SerialSettingsOfView(const SettingsView& view, const SerialSettings& device);

}  // namespace devod::usersettings
