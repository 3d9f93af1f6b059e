// Progress of a session's command: written by the session thread, polled by the caller.
#pragma once

#include <atomic>
#include <cstdint>

namespace qv {

class CProgressInfo {
public:
    // Stores the smaller value as minimum and the larger as maximum.
    void SetRange(uint32_t a, uint32_t b) {
        min_.store(a < b ? a : b, std::memory_order_relaxed);
        max_.store(a < b ? b : a, std::memory_order_relaxed);
    }
    // Clamps the position into the range.
    void SetPos(uint32_t value) {
        uint32_t lo = GetMin(), hi = GetMax();
        pos_.store(value < lo ? lo : (value > hi ? hi : value), std::memory_order_relaxed);
    }
    uint32_t GetMin() const { return min_.load(std::memory_order_relaxed); }
    uint32_t GetMax() const { return max_.load(std::memory_order_relaxed); }
    uint32_t GetPos() const { return pos_.load(std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> min_{0};
    std::atomic<uint32_t> max_{0};
    std::atomic<uint32_t> pos_{0};
};

}  // namespace qv
