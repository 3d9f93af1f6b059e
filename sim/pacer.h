// Paces the device's reception at the line speed, as a UART takes bytes in: 10 bits a byte
// (start bit, 8 data bits, stop bit).
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/tx_queue.h"

namespace z31sim {

// The line is idle until the device sees a byte waiting; from then on the bytes come one after
// the other at the line speed, and the device may take only those whose last bit has arrived.
// Counting from the start of a run of bytes (not byte by byte) keeps the rate exact over a long
// stream however late the device thread wakes.
class Pacer {
public:
    // How many bytes have arrived by `now` at `baud` and not been taken yet. On an idle line the
    // first waiting byte is taken as just arrived: the run starts one byte time before `now`.
    std::size_t Allowed(Clock::time_point now, int baud);
    // The device took `count` bytes of what Allowed granted.
    void Take(std::size_t count) { taken_ += count; }
    // The host has nothing more on the line: the next byte starts a new run.
    void Idle() { busy_ = false; }
    // True while a run goes on: the device reads on the pacer's clock, not when bytes wait.
    bool busy() const { return busy_; }
    // When the next byte of the run will have arrived.
    Clock::time_point NextByteAt() const;
    // When it is worth reading again: once the bytes of the next few milliseconds have arrived
    // (at least one), so that a long stream costs a few hundred wake-ups a second, not one a
    // byte. The rate stays exact: what arrives meanwhile is taken at the next read.
    Clock::time_point NextReadAt() const;

    // The time one byte takes on the line at `baud`.
    static Clock::duration ByteTime(int baud);

private:
    Clock::time_point ArrivalOf(std::uint64_t bytes) const;

    bool busy_ = false;
    int baud_ = 0;
    Clock::time_point start_{};  // when the run began
    std::uint64_t taken_ = 0;    // bytes taken since start_
};

}  // namespace z31sim
