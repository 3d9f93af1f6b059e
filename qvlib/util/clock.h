// The one clock and sleep of the library. Commands pause and measure time through here so that
// tests can replace both and run retry loops and pauses in no time; the product keeps real time.
#pragma once

#include <cstdint>

namespace util {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t NowMs() = 0;  // monotonic milliseconds
    virtual void SleepMs(uint32_t ms) = 0;
};

// The clock in force; the real monotonic clock unless a test installed another.
Clock& CurrentClock();
// Installs a clock (nullptr restores the real one). The caller keeps it alive while installed.
void InstallClock(Clock* clock);

inline uint64_t NowMs() { return CurrentClock().NowMs(); }
inline void SleepMs(uint32_t ms) { CurrentClock().SleepMs(ms); }

// A deadline for poll-based waits, on the real monotonic clock: platform waits block in the kernel
// and cannot be driven by a test clock. kInfinite (0xFFFFFFFF) never expires.
class Deadline {
public:
    explicit Deadline(uint32_t timeout_ms);
    bool Expired() const;
    // Milliseconds left as a poll(2) time-out: -1 for ever, else 0 to the rest (rounded up).
    int PollTimeout() const;

private:
    bool infinite_;
    int64_t end_ns_;
};

}  // namespace util
