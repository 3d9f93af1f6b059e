#include "sim/pacer.h"

#include <chrono>

namespace z31sim {
namespace {

constexpr std::int64_t kBitsPerByte = 10;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kReadsPerSecond = 200;

}  // namespace

Clock::duration Pacer::ByteTime(int baud) {
    // Rounded up, so that a byte counted from one byte time back has surely arrived.
    return std::chrono::nanoseconds((kBitsPerByte * kNsPerSecond + baud - 1) / baud);
}

Clock::time_point Pacer::ArrivalOf(std::uint64_t bytes) const {
    // Split in whole seconds and the rest, so that no product overflows on a long run.
    const auto bits = static_cast<std::int64_t>(bytes) * kBitsPerByte;
    const std::int64_t ns = bits / baud_ * kNsPerSecond + bits % baud_ * kNsPerSecond / baud_;
    return start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

std::size_t Pacer::Allowed(Clock::time_point now, int baud) {
    if (baud <= 0) return 0;
    if (!busy_ || baud != baud_) {
        // A new run, or the host changed the speed in the middle of one: count afresh from the
        // bytes already on their way.
        const Clock::time_point from = busy_ ? ArrivalOf(taken_) : now - ByteTime(baud);
        busy_ = true;
        baud_ = baud;
        start_ = from;
        taken_ = 0;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_);
    if (elapsed.count() <= 0) return 0;
    const std::int64_t ns = elapsed.count();
    const std::int64_t bits = ns / kNsPerSecond * baud_ + ns % kNsPerSecond * baud_ / kNsPerSecond;
    const auto arrived = static_cast<std::uint64_t>(bits / kBitsPerByte);
    return arrived > taken_ ? static_cast<std::size_t>(arrived - taken_) : 0;
}

Clock::time_point Pacer::NextByteAt() const { return ArrivalOf(taken_ + 1); }

Clock::time_point Pacer::NextReadAt() const {
    const std::int64_t batch = baud_ / kBitsPerByte / kReadsPerSecond;
    return ArrivalOf(taken_ + static_cast<std::uint64_t>(batch > 1 ? batch : 1));
}

}  // namespace z31sim
