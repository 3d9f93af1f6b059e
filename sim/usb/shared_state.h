// What the device thread and the public API share, all under one mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "sim/usb/device_data.h"
#include "sim/usb/z31usb.h"

namespace z31sim::usb {

using Clock = std::chrono::steady_clock;

struct Knobs {
    bool attached = true;
    bool socket_visible = true;
    bool refuse_out = false;
    bool refuse_in = false;
    bool writes_unplugged = false;
    ReadFault read_fault = ReadFault::kNone;
    std::optional<std::size_t> short_replies;
    Clock::time_point stall_until{};  // PIPE00 is not read before this time

    bool Stalled(Clock::time_point now) const { return now < stall_until; }
};

struct SharedState {
    mutable std::mutex mu;
    // Signalled when data arrived and each time the thread has applied the knobs.
    mutable std::condition_variable changed;
    DeviceData data;
    Knobs knobs;
    OpenCounts opens;
    bool stop = false;
    // A setter that needs the thread to act bumps `requested`; the thread copies it to `applied`
    // once it has acted on everything set before.
    std::uint64_t requested = 0;
    std::uint64_t applied = 0;
    std::string listen_error;  // why the socket could not be shown again, empty if it could
};

}  // namespace z31sim::usb
