// Files of user points as qvctl writes and reads them: GPX 1.1 for map programs and CSV for
// spreadsheets. Both keep every field of a point, so a file written from a device's points and read
// back gives the very same points.
//
// GPX: one waypoint a point, in device order. The waypoint's lat and lon attributes carry the
// position in degrees with five decimals (the device's unit is 1/100000 degree). The direction and
// the packed fields sit in an extension element <qv:point .../> with one attribute a field of
// UserPointEntry. A position beyond what GPX allows (latitude beyond +-90, longitude from -180 up
// to below 180) is written clamped into the waypoint, with the device's own value as the extension's latitude or
// longitude attribute; on reading, such an attribute wins over the waypoint's.
//
// CSV: a header line naming the columns, then one line a point: number, latitude, longitude (in
// degrees, five decimals), direction, the seven packed fields, word2, word5, word9, word10.
//
// Reading checks everything and keeps nothing of a file that has a fault: the first fault is
// reported with its line and reason.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qvlib/session/qvlib.h"

namespace tinyxml2 {
class XMLPrinter;
}

namespace qvpoints {

enum class PointsFormat { kGpx, kCsv };

// The format a file name asks for, by its extension (".gpx" or ".csv", in any case).
std::optional<PointsFormat> PointsFormatOf(const std::string& path);

// Attributes of one element, in order.
using Attributes = std::vector<std::pair<std::string, std::string>>;

std::string WriteGpx(const std::vector<UserPointEntry>& points);
// The same with an element <qv:backup .../> of these attributes in the metadata's extensions (a
// backup of a device: what it holds besides its points).
std::string WriteGpx(const std::vector<UserPointEntry>& points, const Attributes& backup);
std::string WriteCsv(const std::vector<UserPointEntry>& points);

struct PointsParseResult {
    std::vector<UserPointEntry> points;  // empty when there is a fault
    int error_line = 0;                  // 1-based; 0 when there is no fault
    std::string error;                   // the reason; empty when there is no fault
    Attributes backup;                   // GPX: those of the metadata's <qv:backup>, if any
    bool ok() const { return error.empty(); }
};

// The most points a device's user point database holds.
inline constexpr std::size_t kMaxPointsInFile = 9999;

PointsParseResult ParseGpx(const std::string& text);
PointsParseResult ParseCsv(const std::string& text);
PointsParseResult ParsePoints(PointsFormat format, const std::string& text);

// The pieces of such a GPX file, for other writers of waypoints with the same extension:
// <gpx> with its namespaces and the <metadata> (named `name`, with <qv:backup> when `backup` is
// not empty), left open for the waypoints.
void OpenGpx(tinyxml2::XMLPrinter& out, const char* creator, const char* name,
             const Attributes& backup);
// <wpt> with its position clamped into GPX's ranges, left open for its children.
void OpenWaypoint(tinyxml2::XMLPrinter& out, std::int32_t latitude, std::int32_t longitude);
// Inside the extension element: the device's own latitude and longitude where the waypoint's
// had to be clamped.
void PushClampedPosition(tinyxml2::XMLPrinter& out, std::int32_t latitude, std::int32_t longitude);

// A position in 1/100000 degree as text with five decimals ("-35.13820").
std::string FormatDegrees(std::int32_t value);
// The reverse, rounded to the nearest 1/100000 degree; nothing for a text that is not a plain
// decimal number or lies beyond what 32 bits hold.
std::optional<std::int32_t> ParseDegrees(const std::string& text);

}  // namespace qvpoints
