#include "orvixtool/settingspage/user_point_export.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/userpoints/points_file.h"

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

std::string FormatUserPointsGpx(std::span<const UserPoint> points) {
    return FormatUserPointsGpx(points, {});
}

std::string FormatUserPointsGpx(std::span<const UserPoint> points,
                                const std::vector<std::pair<std::string, std::string>>& backup) {
    tinyxml2::XMLPrinter out;
    qvpoints::OpenGpx(out, "DevodTool", backup.empty() ? "User points" : "DevodTool backup",
                      backup);
    for (size_t i = 0; i < points.size(); ++i) {
        const UserPoint& p = points[i];
        qvpoints::OpenWaypoint(out, p.latitude, p.longitude);
        out.OpenElement("name");
        out.PushText(std::to_string(i + 1).c_str());
        out.CloseElement();
        out.OpenElement("extensions");
        out.OpenElement("qv:point");
        out.PushAttribute("direction", static_cast<unsigned>(p.direction));
        qvpoints::PushClampedPosition(out, p.latitude, p.longitude);
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
