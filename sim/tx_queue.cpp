#include "sim/tx_queue.h"

#include <algorithm>

namespace z31sim {

void TxQueue::Schedule(Clock::time_point start, const std::vector<std::string>& pieces,
                       Clock::duration gap, int baud) {
    Clock::time_point due = chunks_.empty() ? start : std::max(start, chunks_.back().due);
    for (const std::string& piece : pieces) {
        chunks_.push_back(TxChunk{due, piece, baud});
        due += gap;
    }
}

std::optional<Clock::time_point> TxQueue::NextDue() const {
    if (chunks_.empty()) return std::nullopt;
    return chunks_.front().due;
}

std::optional<TxChunk> TxQueue::PopDue(Clock::time_point now) {
    if (chunks_.empty() || chunks_.front().due > now) return std::nullopt;
    TxChunk chunk = std::move(chunks_.front());
    chunks_.pop_front();
    return chunk;
}

}  // namespace z31sim
