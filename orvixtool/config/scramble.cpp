#include "orvixtool/config/scramble.h"

#include <algorithm>
#include <cstdint>

namespace devod {
namespace {

uint8_t ScrambleByte(size_t i) { return static_cast<uint8_t>((i + kScrambleKey) & 0xFF); }

}  // namespace

std::string ScrambleText(std::string_view text) {
    std::string out;
    size_t n = std::min(text.size(), kScrambleMaxLength);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char c = static_cast<char>(static_cast<uint8_t>(text[i]) ^ ScrambleByte(i));
        if (c == '\0') break;
        out += c;
    }
    return out;
}

bool CanScramble(std::string_view text) {
    if (text.size() > kScrambleMaxLength) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (static_cast<uint8_t>(text[i]) == ScrambleByte(i)) return false;
    }
    return true;
}

}  // namespace devod
