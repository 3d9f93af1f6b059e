// The session's seven lists: the six settings lists and the user point database.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace qv {

using SettingsList = std::vector<int32_t>;

// The six settings lists, in the order the exports and the session hold them.
struct SettingsLists {
    SettingsList user_speed;         // the first five travel
    SettingsList warning_by_second;  // the first entry travels, as in every list below
    SettingsList speed_unit;
    SettingsList gmt;
    SettingsList summer_time;
    SettingsList time_set;
};

// One user point as the device stores it: two words of bit-fields, then the plain fields.
struct UserPointRecord {
    uint16_t word0 = 0;  // bits 0-3, 4-9, 10-15
    uint16_t word1 = 0;  // bits 0-1, 2-5, 6-10, 11-15
    uint16_t word2 = 0;
    int32_t latitude = 0;  // 1/100000 degree
    uint16_t word5 = 0;
    int32_t longitude = 0;  // 1/100000 degree
    int16_t direction = 0;
    int16_t word9 = 0;
    uint16_t word10 = 0;

    bool operator==(const UserPointRecord&) const = default;
};

// The seven lists of one session. The exports run in the caller's thread and the reads fill the
// lists on the session thread; `mutex` guards them, so that a caller that touches a list while a
// read runs gets a consistent list instead of a torn one.
struct SessionLists {
    std::mutex mutex;
    SettingsLists settings;
    std::vector<UserPointRecord> user_points;
};

}  // namespace qv
