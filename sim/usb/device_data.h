// The device's settings data and what it makes of each transfer that arrives on PIPE00.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/usb/z31usb.h"

namespace z31sim::usb {

// Settings frames: kFrameMark, a kind, a direction; a read request is those 3 bytes alone, a
// write is one kFrameSize transfer with its payload from byte 3. The program opens a PIPE00 of
// its own for each settings exchange.
inline constexpr std::uint8_t kFrameMark = 0x23;
inline constexpr std::uint8_t kKindSettings = 1;
inline constexpr std::uint8_t kKindUserPoints = 2;
inline constexpr std::uint8_t kKindUserSpeeds = 3;
inline constexpr std::uint8_t kDirRead = 1;
inline constexpr std::uint8_t kDirWrite = 2;
inline constexpr std::size_t kRequestSize = 3;
inline constexpr std::size_t kFrameSize = 64;
inline constexpr std::size_t kPayloadOffset = 3;

// The database stream: a PIPE00 connection whose first transfer is the kOpeningSize-byte opening
// message of a database file (first byte kDatabaseMark), followed by the body blocks until the
// program closes that connection. The body is not framed: a block may begin like a settings
// frame and is still part of the stream.
inline constexpr std::uint8_t kDatabaseMark = 0x24;  // '$'
inline constexpr std::size_t kOpeningSize = 20;

// What one PIPE00 connection carries. Its first transfer decides, and the decision holds until
// the connection closes, so a transfer is never judged by its bytes alone.
enum class OutStream {
    kUndecided,  // nothing received yet
    kDatabase,   // began with a database opening message: every transfer is stream data
    kSettings,   // anything else: each transfer is a settings frame or is recorded as unframed
};

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

    Bytes stream;                             // every transfer of every database stream, in order
    std::vector<std::size_t> transfer_sizes;  // the size of each of those transfers
    std::vector<Bytes> frames;                // every settings frame, whole
    std::vector<Bytes> unframed;  // transfers of settings connections that are not frames
};

// Takes one transfer of a PIPE00 connection whose state is `conn` (updated when this is the
// connection's first transfer): records it, stores what a write frame carries and returns the
// reply transfers a read request calls for (none for anything else).
std::vector<Bytes> HandleTransfer(DeviceData& data, OutStream& conn,
                                  std::span<const std::uint8_t> transfer);

// Points first .. first+kPointsPerBlock-1 of `points` as one kPointBlockSize transfer; points
// that do not exist and the unused tail are zero.
Bytes EncodePointBlock(const std::vector<UserPoint>& points, std::size_t first);

}  // namespace z31sim::usb
