// The data of the UserSetting page apart from any control: the time zone table and the
// sign-magnitude hour offset the device keeps, the frames of the USB exchange, the warning
// distances of each warning mode, and the reading of a user speed field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace devod::usersettings {

// Every frame the tool writes to the device starts with this byte.
inline constexpr uint8_t kFrameMark = 0x23;
// A write is one frame of this size; the payload starts at byte 3.
inline constexpr size_t kFrameSize = 64;
inline constexpr size_t kPayloadOffset = 3;
// A reply to a read request is at most this long, and is read this long after the request,
// once the device has prepared it.
inline constexpr size_t kReplySize = 64;
inline constexpr uint32_t kReplyDelayMs = 300;

enum RecordKind : uint8_t { kSettingsRecord = 1, kUserPoints = 2, kUserSpeeds = 3 };
enum Direction : uint8_t { kReadRequest = 1, kWrite = 2 };

using Frame = std::array<uint8_t, kFrameSize>;
using ReadRequestFrame = std::array<uint8_t, 3>;
// The settings record as the device keeps it: byte 0 and byte 2 are kept as read.
using SettingsBlock = std::array<uint8_t, 6>;
using SpeedBlock = std::array<uint8_t, 5>;

// Bytes of the settings record.
enum SettingsByte : size_t {
    kByteUnit = 1,         // 1 Km/h, anything else mph
    kByteClock = 3,        // 1 12-hour clock, anything else 24-hour
    kByteOffset = 4,       // hours from UTC, sign-magnitude
    kByteWarningMode = 5,  // 0 distance warning, 1..5 warning 10 s..30 s ahead
};

struct TimeZone {
    int hours;
    std::string_view name;
};

// Row 0 stands for "the zone of the database" and is offered only until the first connection.
inline constexpr int kDefaultZoneHours = -10000;
inline constexpr std::array<TimeZone, 25> kTimeZones = {{
    {kDefaultZoneHours, "Default(DB zone Time)"},
    {12, "12 (Fiji,Wellington,Auckland)"},
    {11, "11 (Okhotsk,Magadan)"},
    {10, "10 (Sydney,Brisbane,Guam)"},
    {9, "9 (Seoul,Tokyo,Pyongyang)"},
    {8, "8 (Beijing,Hong Kong,Singapore,Taipei)"},
    {7, "7 (Bangkok,Jakarta,Hanoi)"},
    {6, "6 (Alma-Ata,Kathmandu)"},
    {5, "5 (Tashkent,Islamabad,New Delhi)"},
    {4, "4 (Abu Dhabi,Samara,Muskat)"},
    {3, "3 (Moscow,Baghdad,Tehran,Riyadh)"},
    {2, "2 (Athens,Helsinki,Cairo,Jerusalem)"},
    {1, "1 (Rome,Paris,Berlin,Madrid)"},
    {0, "0 (London,Lisbon)"},
    {-1, "-1 (Cape Verde)"},
    {-2, "-2 (Fernando de Noronha Archip)"},
    {-3, "-3 (Brasilia,Buenos Aires,Sao Paulo)"},
    {-4, "-4 (Santiago,Caracas,La Paz)"},
    {-5, "-5 (New York,Washington,Miami,Ottawa)"},
    {-6, "-6 (Chicago,Dallas,Houston,Mexico City)"},
    {-7, "-7 (Arizona,Denver,Phoenix,Calgary)"},
    {-8, "-8 (LA,San francisco,Vancouver,Seattle)"},
    {-9, "-9 (Alaska)"},
    {-10, "-10 (Hawaii,Tahiti)"},
    {-11, "-11 (Samoa,Midway)"},
}};

inline constexpr std::array<std::string_view, 6> kWarningModes = {
    "Disable(Warning in meter(600)", "10s", "15s", "20s", "25s", "30s"};
inline constexpr std::array<std::string_view, 2> kClockDisplays = {"Display 12H", "Display 24H"};

// The first of table rows 1..24 with these hours, or nothing.
std::optional<size_t> FindTimeZoneRow(int hours);
// The table row with this name (row 0 included), or nothing.
std::optional<size_t> FindTimeZoneByName(std::string_view name);

// Hours from the offset byte: bit 7 is the sign, bits 0..6 the magnitude.
int DecodeOffset(uint8_t byte);
// The offset byte for these hours; a magnitude above 127 is kept at 127.
uint8_t EncodeOffset(int hours);

// The 3-byte request for one record.
ReadRequestFrame ReadRequest(RecordKind kind);
// Write frames: header, payload, zero fill. Byte 2 of the record is sent as 0.
Frame SettingsWriteFrame(const SettingsBlock& block);
Frame SpeedsWriteFrame(const SpeedBlock& speeds);

// Where the two distance bars stand for a warning mode: the distance, in metres, at which the
// warning comes at the lower and the higher of the two sample speeds.
struct WarningDistances {
    int first;
    int second;
};
inline constexpr int kDistanceBarRange = 1000;
// Nothing for a mode outside 0..5.
std::optional<WarningDistances> DistancesForMode(int mode);

// A user speed field read as a signed decimal integer the way atoi reads it (leading blanks, an
// optional sign, then digits up to the first other character). Empty or unreadable text is 0; a
// value beyond the range of int is held at INT_MAX or INT_MIN.
int ParseSpeedField(std::string_view text);
inline constexpr int kMaxUserSpeed = 255;

}  // namespace devod::usersettings
