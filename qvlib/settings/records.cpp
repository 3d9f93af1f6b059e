#include "qvlib/settings/records.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace qv {
namespace {

constexpr std::string_view kSettingsStart = "$0000*";
constexpr std::string_view kEndLine = "$9999*";
constexpr uint32_t kEndLineNumber = 9999;
constexpr size_t kSettingsLineChars = 80;  // between "$0000*" and CR LF
constexpr size_t kUserPointChars = 61;     // from "$" up to CR LF
constexpr uint16_t kNoValue = 0xFFFF;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendWord(std::string& out, uint32_t value) {
    char word[6];
    std::snprintf(word, sizeof word, "%04X ", static_cast<unsigned>(value & 0xFFFF));
    out += word;
}

// The word of a single-value list: its first entry, or "no value".
uint32_t FirstOrNone(const SettingsList& list) {
    return list.empty() ? kNoValue : static_cast<uint32_t>(list.front());
}

// The line number of a user point line: up to four decimal digits after the "$".
uint32_t LineNumber(const char* line, const char* line_end) {
    const char* p = line + 1;
    const char* end = line_end - p > 4 ? p + 4 : line_end;
    while (p < end && IsSpace(*p)) ++p;
    uint32_t number = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) number = number * 10 + (*p - '0');
    return number;
}

}  // namespace

UserPointRecord PackUserPoint(const UserPointEntry& e) {
    UserPointRecord r;
    r.word0 = static_cast<uint16_t>((e.w0Bits0to3 & 0xF) | (e.w0Bits4to9 & 0x3F) << 4 |
                                    (e.w0Bits10to15 & 0x3F) << 10);
    r.word1 = static_cast<uint16_t>((e.w1Bits0to1 & 0x3) | (e.w1Bits2to5 & 0xF) << 2 |
                                    (e.w1Bits6to10 & 0x1F) << 6 | (e.w1Bits11to15 & 0x1F) << 11);
    r.word2 = e.word2;
    r.latitude = e.latitude;
    r.word5 = e.word5;
    r.longitude = e.longitude;
    r.direction = e.direction;
    r.word9 = e.word9;
    r.word10 = e.word10;
    return r;
}

UserPointEntry UnpackUserPoint(const UserPointRecord& r) {
    UserPointEntry e{};
    e.w0Bits0to3 = r.word0 & 0xF;
    e.w0Bits4to9 = (r.word0 >> 4) & 0x3F;
    e.w0Bits10to15 = (r.word0 >> 10) & 0x3F;
    e.w1Bits0to1 = r.word1 & 0x3;
    e.w1Bits2to5 = (r.word1 >> 2) & 0xF;
    e.w1Bits6to10 = (r.word1 >> 6) & 0x1F;
    e.w1Bits11to15 = (r.word1 >> 11) & 0x1F;
    e.word2 = r.word2;
    e.latitude = r.latitude;
    e.word5 = r.word5;
    e.longitude = r.longitude;
    e.direction = r.direction;
    e.word9 = r.word9;
    e.word10 = r.word10;
    return e;
}

bool KeepUserPoint(const UserPointRecord& r) {
    const unsigned month = r.word0 & 0xF;
    return month >= 1 && month <= 12 && ((r.word1 >> 11) & 0x1F) <= 24 &&
           ((r.word0 >> 4) & 0x3F) <= 60;
}

uint16_t ParseHexWord(const char* p, const char* end) {
    while (p < end && IsSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
    uint32_t value = 0;  // wraps: only the low 16 bits are kept
    for (int digit; p < end && (digit = HexDigit(*p)) >= 0; ++p) value = value * 16 + digit;
    if (negative) value = 0u - value;
    return static_cast<uint16_t>(value);
}

std::string FormatSettingsWrite(const SettingsLists& lists) {
    std::string out(kSettingsStart);
    for (size_t k = 0; k < 5; ++k) {
        AppendWord(out, k < lists.user_speed.size() ? static_cast<uint32_t>(lists.user_speed[k])
                                                    : kNoValue);
    }
    for (int k = 0; k < 3; ++k) AppendWord(out, kNoValue);
    AppendWord(out, FirstOrNone(lists.warning_by_second));
    AppendWord(out, FirstOrNone(lists.gmt));
    AppendWord(out, FirstOrNone(lists.summer_time));
    for (int k = 0; k < 3; ++k) AppendWord(out, kNoValue);
    AppendWord(out, FirstOrNone(lists.time_set));
    AppendWord(out, FirstOrNone(lists.speed_unit));
    out += "\r\n";
    out += kEndLine;
    out += "\r\n";
    return out;
}

std::optional<std::array<uint16_t, 16>> FindSettingsWords(const char* reply) {
    const char* start = std::strstr(reply, kSettingsStart.data());
    if (start == nullptr) return std::nullopt;
    const char* words = start + kSettingsStart.size();
    const char* line_end = std::strstr(words, "\r\n");
    if (line_end == nullptr || static_cast<size_t>(line_end - words) != kSettingsLineChars) {
        return std::nullopt;
    }
    std::array<uint16_t, 16> values{};
    for (size_t i = 0; i < values.size(); ++i) values[i] = ParseHexWord(words + 5 * i, line_end);
    return values;
}

SettingsLists ListsFromWords(const std::array<uint16_t, 16>& words) {
    SettingsLists lists;
    SettingsList* const kTarget[16] = {&lists.user_speed,
                                       &lists.user_speed,
                                       &lists.user_speed,
                                       &lists.user_speed,
                                       &lists.user_speed,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       &lists.warning_by_second,
                                       &lists.gmt,
                                       &lists.summer_time,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       &lists.time_set,
                                       &lists.speed_unit};
    for (size_t i = 0; i < words.size(); ++i) {
        if (kTarget[i] == nullptr || words[i] == kNoValue) continue;
        kTarget[i]->push_back(static_cast<int16_t>(words[i]));
    }
    return lists;
}

std::string FormatUserPointLine(uint32_t line_number, const UserPointRecord& r) {
    char number[16];
    std::snprintf(number, sizeof number, "$%04u*", static_cast<unsigned>(line_number));
    std::string out(number);
    const auto lat = static_cast<uint32_t>(r.latitude);
    const auto lon = static_cast<uint32_t>(r.longitude);
    for (uint32_t word :
         {uint32_t{r.word0}, uint32_t{r.word1}, 0u, lat, lat >> 16, 0u, lon, lon >> 16,
          static_cast<uint32_t>(r.direction), static_cast<uint32_t>(r.word9), uint32_t{r.word10}}) {
        AppendWord(out, word);
    }
    out += "\r\n";
    return out;
}

std::optional<UserPointRecord> ParseUserPointLine(const char* line, const char* line_end) {
    if (line_end - line < static_cast<std::ptrdiff_t>(kUserPointChars)) return std::nullopt;
    uint16_t w[11];
    for (size_t k = 0; k < 11; ++k) {
        const char* word = line + 6 + 5 * k;
        w[k] = ParseHexWord(word, line_end - word > 4 ? word + 4 : line_end);
    }
    UserPointRecord r;
    r.word0 = w[0];
    r.word1 = w[1];
    r.word2 = w[2];
    r.latitude = static_cast<int32_t>(uint32_t{w[3]} | uint32_t{w[4]} << 16);
    r.word5 = w[5];
    r.longitude = static_cast<int32_t>(uint32_t{w[6]} | uint32_t{w[7]} << 16);
    r.direction = static_cast<int16_t>(w[8]);
    r.word9 = static_cast<int16_t>(w[9]);
    r.word10 = w[10];
    return r;
}

std::vector<UserPointRecord> KeptUserPoints(const char* reply) {
    std::vector<UserPointRecord> kept;
    for (const char* line = std::strchr(reply, '$'); line != nullptr;) {
        const char* line_end = std::strstr(line, "\r\n");
        if (line_end == nullptr || LineNumber(line, line_end) == kEndLineNumber) break;
        if (auto record = ParseUserPointLine(line, line_end); record && KeepUserPoint(*record)) {
            kept.push_back(*record);
        }
        line = std::strchr(line_end + 2, '$');
    }
    return kept;
}

}  // namespace qv
