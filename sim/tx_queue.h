// Bytes waiting to go out on the line, each at its own time and line speed.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace z31sim {

using Clock = std::chrono::steady_clock;

struct TxChunk {
    Clock::time_point due;
    std::string bytes;
    int baud;  // the speed the device sends these bytes at
};

// A single line keeps its order: nothing queued later goes out before what is already queued,
// even when it is due earlier.
class TxQueue {
public:
    // Queues the pieces to go out from `start` on, one every `gap`.
    void Schedule(Clock::time_point start, const std::vector<std::string>& pieces,
                  Clock::duration gap, int baud);
    // When the first chunk is due, if any.
    std::optional<Clock::time_point> NextDue() const;
    // Removes and returns the first chunk if it is due at `now`.
    std::optional<TxChunk> PopDue(Clock::time_point now);
    bool empty() const { return chunks_.empty(); }

private:
    std::deque<TxChunk> chunks_;
};

}  // namespace z31sim
