#include "qvlib/util/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "qvlib/serial/win_codes.h"

namespace util {
namespace {

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class RealClock final : public Clock {
public:
    uint64_t NowMs() override { return static_cast<uint64_t>(MonotonicNs() / 1000000); }
    void SleepMs(uint32_t ms) override {
        if (ms == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }
};

RealClock g_real_clock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& CurrentClock() {
    Clock* installed = g_clock.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : static_cast<Clock&>(g_real_clock);
}

void InstallClock(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

Deadline::Deadline(uint32_t timeout_ms)
    : infinite_(timeout_ms == serial::kInfinite),
      end_ns_(MonotonicNs() + static_cast<int64_t>(timeout_ms) * 1000000) {}

bool Deadline::Expired() const { return !infinite_ && MonotonicNs() >= end_ns_; }

int Deadline::PollTimeout() const {
    if (infinite_) return -1;
    int64_t left = end_ns_ - MonotonicNs();
    if (left <= 0) return 0;
    return static_cast<int>((left + 999999) / 1000000);
}

}  // namespace util
