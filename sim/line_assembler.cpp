#include "sim/line_assembler.h"

#include <utility>

namespace z31sim {

std::optional<std::string> LineAssembler::Push(char c) {
    const bool after_cr = std::exchange(after_cr_, false);
    if (c == '\n' && after_cr) return std::nullopt;
    if (c == '\r') {
        after_cr_ = true;
        return std::exchange(partial_, std::string());
    }
    if (partial_.size() < kMaxLine) partial_.push_back(c);
    return std::nullopt;
}

void LineAssembler::Reset() {
    partial_.clear();
    after_cr_ = false;
}

}  // namespace z31sim
