// A clock for tests: pauses cost nothing and move the time on by their length, so retry loops,
// pauses and time-outs run in virtual time.
//
//   util::testing::ScopedTestClock clock;      // installed until the end of the scope
//   util::SleepMs(1500);                       // returns at once
//   clock.clock.NowMs();                       // 1500 later than before (plus the reading ticks)
//
// Each reading of the time advances it by `ms_per_reading` (1 unless chosen otherwise), so a
// loop that waits for the time to pass without pausing still ends; a test that counts exact
// milliseconds chooses 0. With `real_pauses` every pause also takes one real millisecond, for a
// test that needs an operation to stay running while it looks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "qvlib/util/clock.h"

namespace util::testing {

class TestClock : public util::Clock {
public:
    explicit TestClock(uint32_t ms_per_reading = 1) : ms_per_reading_(ms_per_reading) {}
    uint64_t NowMs() override { return now_ += ms_per_reading_; }
    void SleepMs(uint32_t ms) override {
        now_ += ms;
        if (real_pauses) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The time without advancing it.
    uint64_t PeekMs() const { return now_.load(); }
    std::atomic<bool> real_pauses{false};

private:
    const uint32_t ms_per_reading_;
    std::atomic<uint64_t> now_{0};
};

// Installs a TestClock for its lifetime.
class ScopedTestClock {
public:
    explicit ScopedTestClock(uint32_t ms_per_reading = 1) : clock(ms_per_reading) {
        util::InstallClock(&clock);
    }
    ~ScopedTestClock() { util::InstallClock(nullptr); }
    ScopedTestClock(const ScopedTestClock&) = delete;
    ScopedTestClock& operator=(const ScopedTestClock&) = delete;
    TestClock clock;
};

}  // namespace util::testing
