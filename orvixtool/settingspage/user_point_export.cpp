#include "orvixtool/settingspage/user_point_export.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace devod::usersettings {
namespace {

uint32_t LittleEndian(const uint8_t* p, size_t size) {
    uint32_t value = 0;
    for (size_t i = size; i-- > 0;) value = (value << 8) | p[i];
    return value;
}

std::string SystemError(int error) { return std::strerror(error); }

}  // namespace

std::vector<UserPoint> DecodeUserPoints(std::span<const uint8_t> bytes, size_t count) {
    if (count > bytes.size() / kPointSize) count = bytes.size() / kPointSize;
    std::vector<UserPoint> points(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes.data() + i * kPointSize;
        points[i].direction = static_cast<uint16_t>(LittleEndian(p, 2));
        points[i].latitude = static_cast<int32_t>(LittleEndian(p + 2, 4));
        points[i].longitude = static_cast<int32_t>(LittleEndian(p + 6, 4));
    }
    return points;
}

std::string FormatUserPoints(std::span<const UserPoint> points) {
    std::string text = "No\tLat\tLong\tDir\r\n";
    char line[96];
    for (size_t i = 0; i < points.size(); ++i) {
        const UserPoint& point = points[i];
        std::snprintf(line, sizeof line, "%zu\t%.5f\t%.5f\t%u\r\n", i + 1,
                      point.latitude / 100000.0, point.longitude / 100000.0,
                      static_cast<unsigned>(point.direction));
        text += line;
    }
    return text;
}

namespace {

// GPX's ranges in 1/100000 degree: latitude -90 to 90, longitude from -180 up to below 180.
constexpr int32_t kMaxLatitude = 9000000;
constexpr int32_t kMinLongitude = -18000000;
constexpr int32_t kMaxLongitude = 17999999;

std::string Degrees(int32_t value) {
    const int64_t v = value;
    const int64_t a = v < 0 ? -v : v;
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%05lld", v < 0 ? "-" : "",
                  static_cast<long long>(a / 100000), static_cast<long long>(a % 100000));
    return text;
}

}  // namespace

std::string FormatUserPointsGpx(std::span<const UserPoint> points) {
    return FormatUserPointsGpx(points, {});
}

std::string FormatUserPointsGpx(std::span<const UserPoint> points,
                                const std::vector<std::pair<std::string, std::string>>& backup) {
    tinyxml2::XMLPrinter out;
    out.PushHeader(false, true);
    out.OpenElement("gpx");
    out.PushAttribute("version", "1.1");
    out.PushAttribute("creator", "DevodTool");
    out.PushAttribute("xmlns", "http://www.topografix.com/GPX/1/1");
    out.PushAttribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
    out.PushAttribute(
        "xsi:schemaLocation",
        "http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd");
    out.PushAttribute("xmlns:qv", "urn:qvlib:user-point:1");
    out.OpenElement("metadata");
    out.OpenElement("name");
    out.PushText(backup.empty() ? "User points" : "DevodTool backup");
    out.CloseElement();
    if (!backup.empty()) {
        out.OpenElement("extensions");
        out.OpenElement("qv:backup");
        for (const auto& [name, value] : backup) out.PushAttribute(name.c_str(), value.c_str());
        out.CloseElement();
        out.CloseElement();
    }
    out.CloseElement();
    for (size_t i = 0; i < points.size(); ++i) {
        const UserPoint& p = points[i];
        out.OpenElement("wpt");
        out.PushAttribute("lat",
                          Degrees(std::clamp(p.latitude, -kMaxLatitude, kMaxLatitude)).c_str());
        out.PushAttribute("lon",
                          Degrees(std::clamp(p.longitude, kMinLongitude, kMaxLongitude)).c_str());
        out.OpenElement("name");
        out.PushText(std::to_string(i + 1).c_str());
        out.CloseElement();
        out.OpenElement("extensions");
        out.OpenElement("qv:point");
        out.PushAttribute("direction", static_cast<unsigned>(p.direction));
        if (p.latitude < -kMaxLatitude || p.latitude > kMaxLatitude) {
            out.PushAttribute("latitude", static_cast<int64_t>(p.latitude));
        }
        if (p.longitude < kMinLongitude || p.longitude > kMaxLongitude) {
            out.PushAttribute("longitude", static_cast<int64_t>(p.longitude));
        }
        out.CloseElement();
        out.CloseElement();
        out.CloseElement();
    }
    out.CloseElement();
    return out.CStr();
}

bool IsGpxFileName(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".gpx";
}

std::string SaveTextFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return "Cannot create the file " + path + ": " + SystemError(errno);
    const size_t written = std::fwrite(text.data(), 1, text.size(), file);
    int error = written == text.size() ? 0 : errno;
    // Buffered data reaches the disk only at the close, so its failure counts as well.
    if (std::fclose(file) != 0 && error == 0) error = errno;
    if (error != 0 || written != text.size()) {
        return "Cannot write the file " + path + ": " + SystemError(error != 0 ? error : EIO);
    }
    return {};
}

}  // namespace devod::usersettings
