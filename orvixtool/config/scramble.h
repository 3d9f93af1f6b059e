// The light scrambling that keeps a remembered password from being readable at a glance in the
// per-user settings file. It is not encryption. Used for the shop account and the FTP account.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devod {

// Byte i is XORed with the low 8 bits of (i + kScrambleKey).
inline constexpr unsigned kScrambleKey = 7;
// The scrambled text lives zero-terminated in a 255-byte buffer.
inline constexpr size_t kScrambleMaxLength = 254;

// Scrambles or unscrambles (the same operation). At most kScrambleMaxLength bytes are taken, and
// the result ends at the first byte that scrambled to zero, as the zero-terminated buffer would.
std::string ScrambleText(std::string_view text);

// True when text comes back whole from ScrambleText(ScrambleText(text)): it is at most
// kScrambleMaxLength bytes long and no byte scrambles to zero (byte i equal to i + kScrambleKey).
bool CanScramble(std::string_view text);

}  // namespace devod
