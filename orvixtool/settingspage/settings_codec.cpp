#include "orvixtool/settingspage/settings_codec.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace devod::usersettings {

std::optional<size_t> FindTimeZoneRow(int hours) {
    for (size_t row = 1; row < kTimeZones.size(); ++row) {
        if (kTimeZones[row].hours == hours) return row;
    }
    return std::nullopt;
}

std::optional<size_t> FindTimeZoneByName(std::string_view name) {
    for (size_t row = 0; row < kTimeZones.size(); ++row) {
        if (kTimeZones[row].name == name) return row;
    }
    return std::nullopt;
}

int DecodeOffset(uint8_t byte) {
    const int magnitude = byte & 0x7F;
    return (byte & 0x80) != 0 ? -magnitude : magnitude;
}

uint8_t EncodeOffset(int hours) {
    // Computed in 64 bits: the magnitude of INT_MIN does not fit an int.
    const int64_t magnitude = std::min<int64_t>(hours < 0 ? -int64_t{hours} : hours, 0x7F);
    return static_cast<uint8_t>(hours < 0 ? 0x80 | magnitude : magnitude);
}

ReadRequestFrame ReadRequest(RecordKind kind) { return {kFrameMark, kind, kReadRequest}; }

namespace {

Frame WriteHeader(RecordKind kind) {
    Frame frame{};  // the zero fill after the payload
    frame[0] = kFrameMark;
    frame[1] = kind;
    frame[2] = kWrite;
    return frame;
}

}  // namespace

Frame SettingsWriteFrame(const SettingsBlock& block) {
    Frame frame = WriteHeader(kSettingsRecord);
    std::copy(block.begin(), block.end(), frame.begin() + kPayloadOffset);
    frame[kPayloadOffset + 2] = 0;  // byte 2 of the record is never written back
    return frame;
}

Frame SpeedsWriteFrame(const SpeedBlock& speeds) {
    Frame frame = WriteHeader(kUserSpeeds);
    std::copy(speeds.begin(), speeds.end(), frame.begin() + kPayloadOffset);
    return frame;
}

std::optional<WarningDistances> DistancesForMode(int mode) {
    if (mode == 0) return WarningDistances{600, 600};
    if (mode < 1 || mode > 5) return std::nullopt;
    // Mode m warns 5 * (m + 1) seconds ahead; the bars show how far ahead that is at the two
    // labelled speeds, 80 km/h (50 mph) and 120 km/h (74.5 mph): about 22 and 33 metres a second,
    // so 110 and 165 metres for every 5 seconds.
    return WarningDistances{110 * (mode + 1), 165 * (mode + 1)};
}

int ParseSpeedField(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulated as a magnitude up to one past INT_MAX, so that INT_MIN still reads exactly.
    constexpr int64_t kLimit = int64_t{INT_MAX} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) return static_cast<int>(-magnitude);
    return static_cast<int>(std::min<int64_t>(magnitude, INT_MAX));
}

}  // namespace devod::usersettings
