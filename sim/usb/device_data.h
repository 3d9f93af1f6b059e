// The device's settings data and what it makes of each transfer that arrives on PIPE00.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/usb/z31usb.h"

namespace z31sim::usb {

// Settings frames: kFrameMark, a kind, a direction; a read request is those 3 bytes alone, a
// write is one kFrameSize transfer with its payload from byte 3.
inline constexpr std::uint8_t kFrameMark = 0x23;
inline constexpr std::uint8_t kKindSettings = 1;
inline constexpr std::uint8_t kKindUserPoints = 2;
inline constexpr std::uint8_t kKindUserSpeeds = 3;
inline constexpr std::uint8_t kDirRead = 1;
inline constexpr std::uint8_t kDirWrite = 2;
inline constexpr std::size_t kRequestSize = 3;
inline constexpr std::size_t kFrameSize = 64;
inline constexpr std::size_t kPayloadOffset = 3;

// The user point reply: a kFrameSize transfer with the count, then kPointBlocks transfers of
// kPointBlockSize bytes, each holding kPointsPerBlock points of kPointSize bytes.
inline constexpr std::size_t kPointSize = 10;
inline constexpr std::size_t kPointsPerBlock = 50;
inline constexpr std::size_t kPointBlocks = 2;
inline constexpr std::size_t kPointBlockSize = 512;

// Everything the device holds and has received. Not thread-safe: its owner locks.
struct DeviceData {
    SettingsRecordBytes settings{};
    UserSpeedBytes speeds{};
    std::vector<UserPoint> points;
    std::uint8_t point_count = 0;

    Bytes stream;  // every transfer that is not a settings frame, in order
    std::vector<std::size_t> transfer_sizes;  // the size of each of those transfers
    std::vector<Bytes> frames;                // every settings frame, whole
};

// Takes one PIPE00 transfer: records it, stores what a write frame carries and returns the reply
// transfers a read request calls for (none for anything else).
std::vector<Bytes> HandleTransfer(DeviceData& data, std::span<const std::uint8_t> transfer);

// Points first .. first+kPointsPerBlock-1 of `points` as one kPointBlockSize transfer; points
// that do not exist and the unused tail are zero.
Bytes EncodePointBlock(const std::vector<UserPoint>& points, std::size_t first);

}  // namespace z31sim::usb
