// Cuts the bytes received from the host into command lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace z31sim {

// A line ends at "\r"; a "\n" right after the "\r" belongs to that ending and is skipped, even
// when it arrives later. A line longer than kMaxLine keeps its first kMaxLine bytes, so a host
// that never sends "\r" cannot make the buffer grow without bound.
class LineAssembler {
public:
    static constexpr std::size_t kMaxLine = 4096;

    // Takes one received byte; returns the line it completes, without its ending.
    std::optional<std::string> Push(char c);
    // Forgets a partly received line.
    void Reset();

private:
    std::string partial_;
    bool after_cr_ = false;
};

}  // namespace z31sim
