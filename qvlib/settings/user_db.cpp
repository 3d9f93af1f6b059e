#include "qvlib/settings/user_db.h"

#include <cstring>
#include <memory>
#include <string>

namespace qv {
namespace {

constexpr uint32_t kCollectionMs = 1000;
constexpr uint32_t kCollectionReadMs = 100;

}  // namespace

int CGetUserDB::Execute() {
    SendText("ru\r");
    Pause(100);
    SendText("y");
    Pause(100);
    // On the heap: the session thread's stack need not hold 20 KiB.
    auto reply = std::make_unique<ReplyBuffer<20480>>();
    ListenFor(*reply, kCollectionMs, kCollectionReadMs);
    if (!HasMarker(reply->text, "Completed!")) return kResultFailure;
    const char* start = std::strstr(reply->text, "$0000*");
    if (start == nullptr || std::strstr(start, "$9999*") == nullptr) return kResultFailure;
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
    ListenFor(reply, kCollectionMs, kCollectionReadMs);
    return HasMarker(reply.text, "WriteSucceed!") ? kResultSuccess : kResultFailure;
}

}  // namespace qv
