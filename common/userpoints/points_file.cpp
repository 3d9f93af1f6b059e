#include "common/userpoints/points_file.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace qvpoints {

namespace {

constexpr char kExtensionNamespace[] = "urn:qvlib:user-point:1";
constexpr char kExtensionElement[] = "qv:point";

// One field of a point besides its position, with the values a file may give it. The signed
// 16-bit fields also take 32768-65535, the same bits written unsigned (as spreadsheet exports of
// the device's points do for the direction).
struct Field {
    const char* name;
    long min;
    long max;
    long (*get)(const UserPointEntry&);
    void (*set)(UserPointEntry&, long);
};

#define QVCTL_FIELD(member, lo, hi, type)                                                         \
    Field {                                                                                       \
#member, lo, hi,                                                                          \
            [](const UserPointEntry&                                                              \
                   p) { return long{p.member}; }, [](UserPointEntry & p,                          \
                                                     long v) { p.member = static_cast<type>(v); } \
    }

const Field kFields[] = {
    QVCTL_FIELD(direction, -32768, 65535, int16_t), QVCTL_FIELD(w0Bits0to3, 0, 15, uint16_t),
    QVCTL_FIELD(w0Bits4to9, 0, 63, uint16_t),       QVCTL_FIELD(w0Bits10to15, 0, 63, uint16_t),
    QVCTL_FIELD(w1Bits0to1, 0, 3, uint16_t),        QVCTL_FIELD(w1Bits2to5, 0, 15, uint16_t),
    QVCTL_FIELD(w1Bits6to10, 0, 31, uint16_t),      QVCTL_FIELD(w1Bits11to15, 0, 31, uint16_t),
    QVCTL_FIELD(word2, 0, 65535, uint16_t),         QVCTL_FIELD(word5, 0, 65535, uint16_t),
    QVCTL_FIELD(word9, -32768, 65535, int16_t),     QVCTL_FIELD(word10, 0, 65535, uint16_t),
};

#undef QVCTL_FIELD

// GPX's ranges of a waypoint's position, in 1/100000 degree: latitude -90 to 90, longitude from
// -180 up to below 180.
constexpr std::int32_t kMaxLatitude = 9000000;
constexpr std::int32_t kMinLongitude = -18000000;
constexpr std::int32_t kMaxLongitude = 17999999;

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// A plain decimal integer ("-12"); nothing for anything else.
std::optional<long> ParseInteger(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    long value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > 100000000000L) return std::nullopt;
    }
    return negative ? -value : value;
}

// Why a point cannot go to the device as it stands; empty when it can. A host reading the points
// back drops those the device counts as empty, so they would not survive a round trip.
std::string DeviceRefusal(const UserPointEntry& p) {
    if (p.w0Bits0to3 < 1 || p.w0Bits0to3 > 12) {
        return "w0Bits0to3 is " + std::to_string(p.w0Bits0to3) +
               ": a point's w0Bits0to3 must be 1-12, or the device's points list drops it";
    }
    if (p.w1Bits11to15 > 24) {
        return "w1Bits11to15 is " + std::to_string(p.w1Bits11to15) +
               ": a point's w1Bits11to15 must be at most 24, or the device's points list drops it";
    }
    if (p.w0Bits4to9 > 60) {
        return "w0Bits4to9 is " + std::to_string(p.w0Bits4to9) +
               ": a point's w0Bits4to9 must be at most 60, or the device's points list drops it";
    }
    return "";
}

PointsParseResult Fault(int line, std::string reason) {
    PointsParseResult r;
    r.error_line = line;
    r.error = std::move(reason);
    return r;
}

// Sets one field from its text; the reason when the text does not fit the field.
std::string SetField(UserPointEntry& p, const Field& f, const std::string& text) {
    const auto value = ParseInteger(Trim(text));
    if (!value) return std::string(f.name) + " \"" + text + "\" is not a whole number";
    if (*value < f.min || *value > f.max) {
        return std::string(f.name) + " " + std::to_string(*value) + " is outside " +
               std::to_string(f.min) + "-" + std::to_string(f.max);
    }
    f.set(p, *value);
    return "";
}

bool NameIs(const char* name, const char* local) {
    if (name == nullptr) return false;
    const char* colon = std::strrchr(name, ':');
    return std::strcmp(colon != nullptr ? colon + 1 : name, local) == 0;
}

const tinyxml2::XMLElement* ChildNamed(const tinyxml2::XMLElement* parent, const char* local) {
    for (auto* e = parent->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        if (NameIs(e->Name(), local)) return e;
    }
    return nullptr;
}

std::string Quoted(const char* text) {
    std::string s(text);
    if (s.size() > 40) s = s.substr(0, 40) + "...";
    return "\"" + s + "\"";
}

}  // namespace

std::optional<PointsFormat> PointsFormatOf(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "gpx") return PointsFormat::kGpx;
    if (ext == "csv") return PointsFormat::kCsv;
    return std::nullopt;
}

std::string FormatDegrees(std::int32_t value) {
    const std::int64_t v = value;
    const std::int64_t a = v < 0 ? -v : v;
    char text[32];
    std::snprintf(text, sizeof text, "%s%" PRId64 ".%05" PRId64, v < 0 ? "-" : "", a / 100000,
                  a % 100000);
    return text;
}

std::optional<std::int32_t> ParseDegrees(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t whole = 0;
    int digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        whole = whole * 10 + (text[i] - '0');
        if (whole > 100000) return std::nullopt;  // far beyond 32 bits of 1/100000 degree
    }
    std::int64_t fraction = 0;
    bool round_up = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        int places = 0;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            ++digits;
            if (places < 5) {
                fraction = fraction * 10 + (text[i] - '0');
            } else if (places == 5) {
                round_up = text[i] >= '5';  // half away from zero
            }
            ++places;
        }
        for (; places < 5; ++places) fraction *= 10;
    } else {
        fraction = 0;
    }
    if (digits == 0 || i != text.size()) return std::nullopt;
    std::int64_t units = whole * 100000 + fraction + (round_up ? 1 : 0);
    if (negative) units = -units;
    if (units > INT32_MAX || units < INT32_MIN) return std::nullopt;
    return static_cast<std::int32_t>(units);
}

std::string WriteGpx(const std::vector<UserPointEntry>& points) { return WriteGpx(points, {}); }

void OpenGpx(tinyxml2::XMLPrinter& out, const char* creator, const char* name,
             const Attributes& backup) {
    out.PushHeader(false, true);
    out.OpenElement("gpx");
    out.PushAttribute("version", "1.1");
    out.PushAttribute("creator", creator);
    out.PushAttribute("xmlns", "http://www.topografix.com/GPX/1/1");
    out.PushAttribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
    out.PushAttribute(
        "xsi:schemaLocation",
        "http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd");
    out.PushAttribute("xmlns:qv", kExtensionNamespace);
    out.OpenElement("metadata");
    out.OpenElement("name");
    out.PushText(name);
    out.CloseElement();
    if (!backup.empty()) {
        out.OpenElement("extensions");
        out.OpenElement("qv:backup");
        for (const auto& [key, value] : backup) out.PushAttribute(key.c_str(), value.c_str());
        out.CloseElement();
        out.CloseElement();
    }
    out.CloseElement();
}

void OpenWaypoint(tinyxml2::XMLPrinter& out, std::int32_t latitude, std::int32_t longitude) {
    out.OpenElement("wpt");
    out.PushAttribute("lat",
                      FormatDegrees(std::clamp(latitude, -kMaxLatitude, kMaxLatitude)).c_str());
    out.PushAttribute("lon",
                      FormatDegrees(std::clamp(longitude, kMinLongitude, kMaxLongitude)).c_str());
}

void PushClampedPosition(tinyxml2::XMLPrinter& out, std::int32_t latitude, std::int32_t longitude) {
    if (latitude < -kMaxLatitude || latitude > kMaxLatitude) {
        out.PushAttribute("latitude", static_cast<int64_t>(latitude));
    }
    if (longitude < kMinLongitude || longitude > kMaxLongitude) {
        out.PushAttribute("longitude", static_cast<int64_t>(longitude));
    }
}

std::string WriteGpx(const std::vector<UserPointEntry>& points, const Attributes& backup) {
    tinyxml2::XMLPrinter out;
    OpenGpx(out, "qvctl", backup.empty() ? "User points" : "Device backup", backup);
    for (size_t i = 0; i < points.size(); ++i) {
        const UserPointEntry& p = points[i];
        OpenWaypoint(out, p.latitude, p.longitude);
        char name[24];
        std::snprintf(name, sizeof name, "%04zu", i + 1);
        out.OpenElement("name");
        out.PushText(name);
        out.CloseElement();
        out.OpenElement("extensions");
        out.OpenElement(kExtensionElement);
        for (const Field& f : kFields) out.PushAttribute(f.name, static_cast<int64_t>(f.get(p)));
        PushClampedPosition(out, p.latitude, p.longitude);
        out.CloseElement();
        out.CloseElement();
        out.CloseElement();
    }
    out.CloseElement();
    return out.CStr();
}

PointsParseResult ParseGpx(const std::string& text) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        const char* why = doc.ErrorStr();
        return Fault(std::max(doc.ErrorLineNum(), 1),
                     std::string("not well-formed XML: ") + (why != nullptr ? why : "?"));
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || !NameIs(root->Name(), "gpx")) {
        return Fault(root != nullptr ? root->GetLineNum() : 1,
                     "not a GPX file: the root element is not <gpx>");
    }
    PointsParseResult result;
    if (auto* metadata = ChildNamed(root, "metadata")) {
        if (auto* extensions = ChildNamed(metadata, "extensions")) {
            if (auto* backup = ChildNamed(extensions, "backup")) {
                for (auto* a = backup->FirstAttribute(); a != nullptr; a = a->Next()) {
                    result.backup.emplace_back(a->Name(), a->Value());
                }
            }
        }
    }
    for (auto* wpt = root->FirstChildElement(); wpt != nullptr; wpt = wpt->NextSiblingElement()) {
        if (!NameIs(wpt->Name(), "wpt")) continue;
        const int line = wpt->GetLineNum();
        if (result.points.size() == kMaxPointsInFile) {
            return Fault(line, "more than " + std::to_string(kMaxPointsInFile) +
                                   " points: the device holds no more");
        }
        const tinyxml2::XMLElement* ext = nullptr;
        if (auto* extensions = ChildNamed(wpt, "extensions")) ext = ChildNamed(extensions, "point");
        if (ext == nullptr) {
            return Fault(line, std::string("waypoint without its <") + kExtensionElement +
                                   "> extension (the direction and the packed fields)");
        }
        UserPointEntry p{};
        struct Position {
            const char* wpt_attr;
            const char* raw_attr;
            std::int32_t min, max;
            const char* range;
            std::int32_t UserPointEntry::*member;
        };
        const Position positions[] = {{"lat", "latitude", -kMaxLatitude, kMaxLatitude, "-90 to 90",
                                       &UserPointEntry::latitude},
                                      {"lon", "longitude", kMinLongitude, kMaxLongitude,
                                       "-180 up to below 180", &UserPointEntry::longitude}};
        for (const Position& pos : positions) {
            if (const char* raw = ext->Attribute(pos.raw_attr)) {
                const auto value = ParseInteger(Trim(raw));
                if (!value || *value < INT32_MIN || *value > INT32_MAX) {
                    return Fault(ext->GetLineNum(), std::string(pos.raw_attr) + " " + Quoted(raw) +
                                                        " is not a 32-bit whole number");
                }
                p.*pos.member = static_cast<std::int32_t>(*value);
                continue;
            }
            const char* attr = wpt->Attribute(pos.wpt_attr);
            if (attr == nullptr) {
                return Fault(line, std::string("waypoint without ") + pos.wpt_attr);
            }
            const auto value = ParseDegrees(Trim(attr));
            if (!value || *value < pos.min || *value > pos.max) {
                return Fault(line, std::string(pos.wpt_attr) + " " + Quoted(attr) +
                                       " is not a number of degrees from " + pos.range);
            }
            p.*pos.member = *value;
        }
        for (const Field& f : kFields) {
            const char* attr = ext->Attribute(f.name);
            if (attr == nullptr) {
                return Fault(ext->GetLineNum(),
                             std::string(kExtensionElement) + " without " + f.name);
            }
            if (std::string why = SetField(p, f, attr); !why.empty()) {
                return Fault(ext->GetLineNum(), why);
            }
        }
        if (std::string why = DeviceRefusal(p); !why.empty()) return Fault(ext->GetLineNum(), why);
        result.points.push_back(p);
    }
    return result;
}

namespace {

// The CSV columns: the point's number, its position, then the fields in table order.
std::vector<std::string> CsvHeader() {
    std::vector<std::string> names = {"number", "latitude", "longitude"};
    for (const Field& f : kFields) names.push_back(f.name);
    return names;
}

std::vector<std::string> SplitCsvLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        std::string field = Trim(line.substr(start, comma - start));
        // Spreadsheets may quote any field.
        if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
            field = Trim(field.substr(1, field.size() - 2));
        }
        fields.push_back(field);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

}  // namespace

std::string WriteCsv(const std::vector<UserPointEntry>& points) {
    std::string out;
    const auto header = CsvHeader();
    for (size_t i = 0; i < header.size(); ++i) out += (i > 0 ? "," : "") + header[i];
    out += "\n";
    for (size_t i = 0; i < points.size(); ++i) {
        const UserPointEntry& p = points[i];
        out += std::to_string(i + 1) + "," + FormatDegrees(p.latitude) + "," +
               FormatDegrees(p.longitude);
        for (const Field& f : kFields) out += "," + std::to_string(f.get(p));
        out += "\n";
    }
    return out;
}

PointsParseResult ParseCsv(const std::string& text) {
    PointsParseResult result;
    const auto header = CsvHeader();
    bool header_seen = false;
    std::vector<std::string> lines;
    // A spreadsheet's UTF-8 byte order mark is skipped.
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    for (size_t index = 0; index < lines.size(); ++index) {
        const int line_no = static_cast<int>(index + 1);
        std::string line = lines[index];
        if (line.find('\0') != std::string::npos)
            return Fault(line_no, "a NUL byte: not a text file");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Trim(line).empty() || Trim(line)[0] == '#') continue;
        std::vector<std::string> fields = SplitCsvLine(line);
        if (!header_seen) {
            std::vector<std::string> lower = fields;
            std::vector<std::string> want = header;
            auto to_lower = [](std::string& s) {
                std::transform(s.begin(), s.end(), s.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            };
            for (auto& s : lower) to_lower(s);
            for (auto& s : want) to_lower(s);
            if (lower != want) {
                std::string names;
                for (size_t i = 0; i < header.size(); ++i) names += (i > 0 ? "," : "") + header[i];
                return Fault(line_no, "the first line must be the header " + names);
            }
            header_seen = true;
            continue;
        }
        if (fields.size() != header.size()) {
            return Fault(line_no, std::to_string(header.size()) + " fields expected, " +
                                      std::to_string(fields.size()) + " found");
        }
        if (result.points.size() == kMaxPointsInFile) {
            return Fault(line_no, "more than " + std::to_string(kMaxPointsInFile) +
                                      " points: the device holds no more");
        }
        if (!ParseInteger(fields[0])) {
            return Fault(line_no, "number \"" + fields[0] + "\" is not a whole number");
        }
        UserPointEntry p{};
        const auto lat = ParseDegrees(fields[1]);
        const auto lon = ParseDegrees(fields[2]);
        if (!lat)
            return Fault(line_no, "latitude \"" + fields[1] + "\" is not a number of degrees");
        if (!lon) {
            return Fault(line_no, "longitude \"" + fields[2] + "\" is not a number of degrees");
        }
        p.latitude = *lat;
        p.longitude = *lon;
        for (size_t i = 0; i < std::size(kFields); ++i) {
            if (std::string why = SetField(p, kFields[i], fields[3 + i]); !why.empty()) {
                return Fault(line_no, why);
            }
        }
        if (std::string why = DeviceRefusal(p); !why.empty()) return Fault(line_no, why);
        result.points.push_back(p);
    }
    if (!header_seen) return Fault(1, "empty file: no header line");
    return result;
}

PointsParseResult ParsePoints(PointsFormat format, const std::string& text) {
    return format == PointsFormat::kGpx ? ParseGpx(text) : ParseCsv(text);
}

}  // namespace qvpoints
