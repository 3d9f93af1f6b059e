#include "orvixtool/settingspage/device_backup.h"

#include <tinyxml2.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace devod::usersettings {

namespace {

bool LocalNameIs(const char* name, const char* local) {
    if (name == nullptr) return false;
    const char* colon = std::strrchr(name, ':');
    return std::strcmp(colon != nullptr ? colon + 1 : name, local) == 0;
}

const tinyxml2::XMLElement* Child(const tinyxml2::XMLElement* parent, const char* local) {
    if (parent == nullptr) return nullptr;
    for (auto* e = parent->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        if (LocalNameIs(e->Name(), local)) return e;
    }
    return nullptr;
}

std::string Hex(const SettingsBlock& block) {
    std::string text;
    char byte[4];
    for (uint8_t b : block) {
        std::snprintf(byte, sizeof byte, "%02X", b);
        text += byte;
    }
    return text;
}

// A position in degrees as the file gives it, in 1/100000 degree.
std::optional<int32_t> Units(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    const double degrees = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(degrees) || std::fabs(degrees) > 21474) {
        return std::nullopt;
    }
    return static_cast<int32_t>(std::llround(degrees * 100000));
}

std::optional<long> Whole(const char* text, long min, long max) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || errno != 0 || value < min || value > max) return std::nullopt;
    return value;
}

std::optional<UsbDeviceData> Refuse(std::string* error, std::string why) {
    *error = std::move(why);
    return std::nullopt;
}

}  // namespace

std::string FormatBackup(const UsbDeviceData& data, const std::string& time_utc) {
    std::string speeds;
    for (size_t i = 0; i < data.speeds.size(); ++i) {
        speeds += (i > 0 ? "," : "") + std::to_string(data.speeds[i]);
    }
    return FormatUserPointsGpx(data.points, {{"link", "usb"},
                                             {"time", time_utc},
                                             {"settings", Hex(data.settings)},
                                             {"speeds", speeds}});
}

std::optional<UsbDeviceData> ParseBackup(const std::string& text, std::string* error) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        return Refuse(error, "not an XML file (line " + std::to_string(doc.ErrorLineNum()) + ")");
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || !LocalNameIs(root->Name(), "gpx")) return Refuse(error, "not GPX");
    const auto* backup = Child(Child(Child(root, "metadata"), "extensions"), "backup");
    if (backup == nullptr) return Refuse(error, "a GPX file, but no DevodTool backup");
    const char* link = backup->Attribute("link");
    if (link == nullptr || std::strcmp(link, "usb") != 0) {
        return Refuse(error, "a backup of a device on another link");
    }
    UsbDeviceData data;
    const char* settings = backup->Attribute("settings");
    if (settings == nullptr || std::strlen(settings) != 2 * data.settings.size()) {
        return Refuse(error, "the backup's settings record is missing or damaged");
    }
    for (size_t i = 0; i < data.settings.size(); ++i) {
        const std::string byte(settings + 2 * i, 2);
        char* end = nullptr;
        const long value = std::strtol(byte.c_str(), &end, 16);
        if (*end != '\0' || byte[0] == '-' || byte[0] == '+') {
            return Refuse(error, "the backup's settings record is damaged");
        }
        data.settings[i] = static_cast<uint8_t>(value);
    }
    const char* speeds = backup->Attribute("speeds");
    std::stringstream list(speeds != nullptr ? speeds : "");
    std::string item;
    size_t count = 0;
    while (std::getline(list, item, ',')) {
        const auto value = Whole(item.c_str(), 0, 255);
        if (!value || count == data.speeds.size()) {
            return Refuse(error, "the backup's user speeds are damaged");
        }
        data.speeds[count++] = static_cast<uint8_t>(*value);
    }
    if (count != data.speeds.size()) return Refuse(error, "the backup's user speeds are damaged");
    for (auto* wpt = root->FirstChildElement(); wpt != nullptr; wpt = wpt->NextSiblingElement()) {
        if (!LocalNameIs(wpt->Name(), "wpt")) continue;
        const std::string where = "point " + std::to_string(data.points.size() + 1);
        const auto* point = Child(Child(wpt, "extensions"), "point");
        UserPoint p;
        const auto direction =
            Whole(point != nullptr ? point->Attribute("direction") : nullptr, 0, 65535);
        if (!direction) return Refuse(error, where + " has no direction");
        p.direction = static_cast<uint16_t>(*direction);
        struct Position {
            const char* wpt_attr;
            const char* raw_attr;
            int32_t UserPoint::*member;
        };
        for (const Position& pos : {Position{"lat", "latitude", &UserPoint::latitude},
                                    Position{"lon", "longitude", &UserPoint::longitude}}) {
            // A position beyond GPX's ranges is kept raw beside the clamped one.
            const auto raw = Whole(point->Attribute(pos.raw_attr), INT32_MIN, INT32_MAX);
            const auto units = raw ? std::optional<int32_t>(static_cast<int32_t>(*raw))
                                   : Units(wpt->Attribute(pos.wpt_attr));
            if (!units) return Refuse(error, where + " has no position");
            p.*pos.member = *units;
        }
        if (data.points.size() == kMaxUserPoints) return Refuse(error, "more than 100 points");
        data.points.push_back(p);
    }
    return data;
}

std::string BackupFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return "";
        base = std::string(home) + "/.local/share";
    }
    return base + "/DevodTool/backups";
}

std::string BackupTime() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char iso[32];
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return iso;
}

std::string SaveBackup(const UsbDeviceData& data, std::string* error) {
    return SaveBackupText(FormatBackup(data, BackupTime()), error);
}

std::string SaveBackupText(const std::string& text, std::string* error) {
    namespace fs = std::filesystem;
    const std::string folder = BackupFolder();
    if (folder.empty()) {
        *error = "there is no home folder to keep it in";
        return "";
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        *error = "the folder " + folder + " cannot be made: " + ec.message();
        return "";
    }
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string path = folder + "/backup-" + stamp + ".gpx";
    for (int n = 2; fs::exists(path, ec); ++n) {
        path = folder + "/backup-" + stamp + "-" + std::to_string(n) + ".gpx";
    }
    // Written whole under a temporary name first: a backup is never left half written.
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            *error = "the file " + path + " cannot be written";
            return "";
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        *error = "the file " + path + " cannot be written";
        return "";
    }
    return path;
}

std::optional<UsbDeviceData> LoadBackup(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Refuse(error, "the file cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().size() > (8u << 20)) return Refuse(error, "the file is too large for a backup");
    return ParseBackup(text.str(), error);
}

}  // namespace devod::usersettings
