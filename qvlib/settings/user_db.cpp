#include "qvlib/settings/user_db.h"

#include <cstring>
#include <memory>
#include <string>

namespace qv {
namespace {

constexpr uint32_t kCollectionMs = 1000;
constexpr uint32_t kCollectionReadMs = 100;

// How long a database may go on arriving after the collection's second: the wire time of a full
// reply buffer at the port's rate (10 bits a byte), and a second more.
uint64_t StreamingLimitMs(int baud_rate, uint32_t capacity) {
    const uint64_t baud = baud_rate > 0 ? static_cast<uint64_t>(baud_rate) : 1200;
    return uint64_t{capacity} * 10 * 1000 / baud + 1000;
}

}  // namespace

int CGetUserDB::Execute() {
    SendText("ru\r");
    Pause(100);
    SendText("y");
    Pause(100);
    // On the heap: the session thread's stack need not hold 20 KiB.
    auto reply = std::make_unique<ReplyBuffer<20480>>();
    Collect(*reply, kCollectionMs, kCollectionReadMs);
    // At 115200 baud a second holds about 180 lines: a larger database is still arriving when the
    // collection's budget is spent, and judging it then would fail a good read. Reading goes on
    // while the reply keeps coming and lacks its markers, bounded by the wire time of a full
    // buffer.
    const uint64_t deadline = NowMs() + StreamingLimitMs(port_->GetBaudRate(), reply->kCapacity);
    while (!reply->Full() && NowMs() < deadline &&
           !(HasMarker(reply->text, "Completed!") && HasMarker(reply->text, "$9999*"))) {
        if (AppendReply(*reply, kCollectionReadMs) == 0) break;
    }
    if (!HasMarker(reply->text, "Completed!")) return kResultFailure;
    const char* start = std::strstr(reply->text, "$0000*");
    if (start == nullptr) {
        // A device without points sends the end line alone, as a write of an empty list leaves
        // it: an empty database, not a failed read.
        return std::strstr(reply->text, "$9999*") != nullptr ? kResultSuccess : kResultFailure;
    }
    if (std::strstr(start, "$9999*") == nullptr) return kResultFailure;
    std::vector<UserPointRecord> kept = KeptUserPoints(reply->text);
    std::lock_guard lock(lists_->mutex);
    lists_->user_points.insert(lists_->user_points.end(), kept.begin(), kept.end());
    return kResultSuccess;
}

int CSetUserDB::Execute() {
    if (copy_.size() > kMaxUserPointsWritten) return kResultFailure;
    SendText("wu\r");
    Pause(100);
    SendText("y");
    Pause(100);
    for (size_t i = 0; i < copy_.size(); ++i) {
        const std::string line = FormatUserPointLine(static_cast<uint32_t>(i), copy_[i]);
        SendText(line.data(), static_cast<uint32_t>(line.size()));
    }
    SendText("$9999*\r");
    ReplyBuffer<1024> reply;
    Collect(reply, kCollectionMs, kCollectionReadMs);
    return HasMarker(reply.text, "WriteSucceed!") ? kResultSuccess : kResultFailure;
}

}  // namespace qv
