// The user points as the device sends them, and the tab-separated text the page saves for them
// (named ".xls" so that a spreadsheet program opens it).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace devod::usersettings {

// One point: direction (uint16), latitude and longitude (int32, in 1/100000 degree), all
// little-endian, 10 bytes.
struct UserPoint {
    uint16_t direction = 0;
    int32_t latitude = 0;
    int32_t longitude = 0;
    bool operator==(const UserPoint&) const = default;
};

inline constexpr size_t kPointSize = 10;
inline constexpr size_t kMaxUserPoints = 100;
// The points come in two reads of up to 512 bytes; the first 500 bytes of each hold 50 points.
inline constexpr size_t kPointReadSize = 512;
inline constexpr size_t kPointsPerRead = 50;
using PointBytes = std::array<uint8_t, kMaxUserPoints * kPointSize>;

// The first `count` points of `bytes` (at most as many as the bytes hold).
std::vector<UserPoint> DecodeUserPoints(std::span<const uint8_t> bytes, size_t count);

// "No\tLat\tLong\tDir\r\n", then one line per point numbered from 1.
std::string FormatUserPoints(std::span<const UserPoint> points);

// The points as a GPX 1.1 file for map programs: one waypoint a point, in device order, named by
// its number from 1, with its position in degrees (five decimals) and its direction in a
// <qv:point direction="..."/> extension. A position beyond GPX's ranges is written clamped, with
// the device's value in the extension's latitude or longitude attribute.
std::string FormatUserPointsGpx(std::span<const UserPoint> points);
// The same, with an element <qv:backup .../> of these attributes in the metadata's extensions.
std::string FormatUserPointsGpx(std::span<const UserPoint> points,
                                const std::vector<std::pair<std::string, std::string>>& backup);

// Whether a file name asks for GPX (it ends in ".gpx", in any case).
bool IsGpxFileName(const std::string& path);

class DeviceExchange;
// Asks the device for its user points over the exchange's open pipes: the points (none when the
// device holds none), or nothing with the reason in `error`.
std::optional<std::vector<UserPoint>> FetchUserPoints(DeviceExchange& exchange, std::string* error);

// Creates or truncates the file and writes the text. Empty on success, otherwise the message
// for the owner, with the system's reason.
std::string SaveTextFile(const std::string& path, const std::string& text);

}  // namespace devod::usersettings
