// Independent checks of NMEA sentences as a receiver would make them.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace z31sim::testing {

// True for "$<body>*HH\r\n" where HH is the XOR of the body's bytes.
inline bool ValidNmea(std::string_view s) {
    if (s.size() < 6 || s.front() != '$' || !s.ends_with("\r\n")) return false;
    const auto star = s.rfind('*');
    if (star == std::string_view::npos || star + 5 != s.size()) return false;
    unsigned sum = 0;
    for (char c : s.substr(1, star - 1)) sum ^= static_cast<unsigned char>(c);
    char want[3];
    std::snprintf(want, sizeof want, "%02X", sum);
    return s.substr(star + 1, 2) == want;
}

// The complete "$...\r\n" sentences in a stream, skipping a partial one at either end.
inline std::vector<std::string> Sentences(std::string_view stream) {
    std::vector<std::string> out;
    std::size_t pos = stream.find('$');
    while (pos != std::string_view::npos) {
        const auto end = stream.find("\r\n", pos);
        if (end == std::string_view::npos) break;
        out.emplace_back(stream.substr(pos, end + 2 - pos));
        pos = stream.find('$', end);
    }
    return out;
}

// The comma-separated fields of a sentence, without "$" and "*HH\r\n".
inline std::vector<std::string> Fields(std::string_view s) {
    std::vector<std::string> out;
    s = s.substr(1, s.rfind('*') - 1);
    std::size_t start = 0;
    for (;;) {
        const auto comma = s.find(',', start);
        out.emplace_back(s.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

}  // namespace z31sim::testing
