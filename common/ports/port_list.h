// Port lists as a technician types them: "3", "3,5-8", "3-18". Used by qvctl's --ports and by the
// simulator's --ports.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvports {

// The highest port number a list may name (the library's COM port range).
inline constexpr int kMaxPort = 255;

// The ports of a comma-separated list of numbers and ranges "A-B" (A <= B), each from 1 to
// kMaxPort, in ascending order without repeats. Nothing, with the reason in `error`, for anything
// else (an empty list or item, a reversed range, a number out of range, stray characters).
std::optional<std::vector<int>> ParsePortList(std::string_view text, std::string* error);

// The shortest list that names these ports: {3,4,5,7} gives "3-5,7".
std::string FormatPortList(const std::vector<int>& ports);

}  // namespace qvports
