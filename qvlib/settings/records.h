// The packed user point record's conversions and the two text lines that carry the settings and
// the user points over the serial line.
//
// Settings line: "$0000*", 16 words of four uppercase hexadecimal digits each followed by a space
// (80 characters), CR LF. Words 0-4 carry the user speeds, 8 the warning lead time, 9 the GMT
// offset, 10 the summer time, 14 the clock mode, 15 the speed unit; 5-7 and 11-13 carry nothing.
// FFFF means "no value"; a value travels as its low 16 bits and comes back sign-extended.
//
// User point line: "$", a four-digit line number, "*", 11 words as above, CR LF (63 characters).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvlib/session/qvlib.h"
#include "qvlib/settings/lists.h"

namespace qv {

// Packing drops the bits beyond each field's width; unpacking masks each field to its width.
UserPointRecord PackUserPoint(const UserPointEntry& entry);
UserPointEntry UnpackUserPoint(const UserPointRecord& record);
// Whether a record read from the device is kept: month-like field 1-12 (bits 0-3 of word 0),
// bits 11-15 of word 1 at most 24 and bits 4-9 of word 0 at most 60.
bool KeepUserPoint(const UserPointRecord& record);

// A hexadecimal number as the device's words are read: leading white space skipped, an optional
// sign and "0x" prefix, then hexadecimal digits in either case up to the first other character
// or `end`; 0 without a digit. Returns the low 16 bits.
uint16_t ParseHexWord(const char* text, const char* end);

// The 96 bytes of a settings write: the settings line and the end line "$9999*" CR LF.
std::string FormatSettingsWrite(const SettingsLists& lists);
// The settings reply's line: the 16 words of the first "$0000*" line, when that line has exactly
// 80 characters before its CR LF; nothing when it is missing, unterminated or of another length.
std::optional<std::array<uint16_t, 16>> FindSettingsWords(const char* reply);
// The lists the 16 words give: each word that is not FFFF appended, sign-extended, to its list.
SettingsLists ListsFromWords(const std::array<uint16_t, 16>& words);

// One user point line as written: words 2 and 5 are 0000.
std::string FormatUserPointLine(uint32_t line_number, const UserPointRecord& record);
// The record of the line at `line` (its "$") that runs up to `line_end` (its CR). A line with
// fewer than 61 characters before its CR lacks words and gives nothing; of a longer one only the
// 11 words at their fixed places are read. Nothing is read at or beyond `line_end`.
std::optional<UserPointRecord> ParseUserPointLine(const char* line, const char* line_end);
// Walks the "$" lines of a user point reply up to the one numbered 9999 and returns the records
// that pass KeepUserPoint, in order.
std::vector<UserPointRecord> KeptUserPoints(const char* reply);

}  // namespace qv
