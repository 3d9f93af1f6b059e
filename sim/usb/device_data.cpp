// Settings frames in, replies out; database streams and whatever else arrives are kept for tests.
#include "sim/usb/device_data.h"

#include <algorithm>

namespace z31sim::usb {
namespace {

void PutLe(Bytes& out, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A settings frame: the mark, a known kind, and a direction whose transfer has the right size.
bool IsSettingsFrame(std::span<const std::uint8_t> t) {
    if (t.size() < kRequestSize || t[0] != kFrameMark) return false;
    if (t[1] < kKindSettings || t[1] > kKindUserSpeeds) return false;
    return (t[2] == kDirRead && t.size() == kRequestSize) ||
           (t[2] == kDirWrite && t.size() == kFrameSize);
}

std::vector<Bytes> AnswerRead(const DeviceData& data, std::uint8_t kind) {
    Bytes first(kFrameSize, 0);
    switch (kind) {
        case kKindSettings:
            std::copy(data.settings.begin(), data.settings.end(), first.begin());
            return {first};
        case kKindUserSpeeds:
            std::copy(data.speeds.begin(), data.speeds.end(), first.begin());
            return {first};
        default: {
            first[0] = data.point_count;
            std::vector<Bytes> replies{first};
            for (std::size_t b = 0; b < kPointBlocks; ++b) {
                replies.push_back(EncodePointBlock(data.points, b * kPointsPerBlock));
            }
            return replies;
        }
    }
}

void StoreWrite(DeviceData& data, std::uint8_t kind, std::span<const std::uint8_t> frame) {
    const auto payload = frame.subspan(kPayloadOffset);
    if (kind == kKindSettings) {
        std::copy_n(payload.begin(), data.settings.size(), data.settings.begin());
    } else if (kind == kKindUserSpeeds) {
        std::copy_n(payload.begin(), data.speeds.size(), data.speeds.begin());
    }
    // Writing the user point database by frame is not something the device does: the frame is
    // recorded and otherwise ignored.
}

}  // namespace

Bytes EncodePointBlock(const std::vector<UserPoint>& points, std::size_t first) {
    Bytes block(kPointBlockSize, 0);
    for (std::size_t i = 0; i < kPointsPerBlock && first + i < points.size(); ++i) {
        const UserPoint& p = points[first + i];
        const std::size_t at = i * kPointSize;
        PutLe(block, at, p.direction, 2);
        PutLe(block, at + 2, static_cast<std::uint32_t>(p.latitude), 4);
        PutLe(block, at + 6, static_cast<std::uint32_t>(p.longitude), 4);
    }
    return block;
}

std::vector<Bytes> HandleTransfer(DeviceData& data, OutStream& conn,
                                  std::span<const std::uint8_t> transfer) {
    if (conn == OutStream::kUndecided) {
        const bool opening = transfer.size() == kOpeningSize && transfer[0] == kDatabaseMark;
        conn = opening ? OutStream::kDatabase : OutStream::kSettings;
    }
    if (conn == OutStream::kDatabase) {
        data.stream.insert(data.stream.end(), transfer.begin(), transfer.end());
        data.transfer_sizes.push_back(transfer.size());
        return {};
    }
    if (!IsSettingsFrame(transfer)) {
        // A near miss (a padded read request, say) is kept apart instead of being answered.
        data.unframed.emplace_back(transfer.begin(), transfer.end());
        return {};
    }
    data.frames.emplace_back(transfer.begin(), transfer.end());
    const std::uint8_t kind = transfer[1];
    if (transfer[2] == kDirRead) return AnswerRead(data, kind);
    StoreWrite(data, kind, transfer);
    return {};
}

}  // namespace z31sim::usb
