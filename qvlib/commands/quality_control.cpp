#include "qvlib/commands/quality_control.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qv {

bool CReqViewQC::ExtractReport(const char* reply, char* view_text) {
    const char* start = std::strstr(reply, "$GPSRESULT");
    if (start == nullptr) return false;
    const char* end = std::strstr(start, "END\r\n");
    if (end == nullptr) return false;
    size_t length = static_cast<size_t>(end + std::strlen("END\r\n") - start);
    length = std::min<size_t>(length, kViewSize - 1);
    std::memcpy(view_text, start, length);
    view_text[length] = '\0';
    return true;
}

int CReqViewQC::Execute() {
    SendText("$viewqc\r");  // a failed write shows as a missing reply
    Pause(100);
    ReplyBuffer<2048> reply;
    ReadReply(reply, 500);
    return ExtractReport(reply.text, view_text_) ? kResultSuccess : kResultFailure;
}

QcTestResult CReqQCTestResult::Verdict(const char* reply) {
    if (HasMarker(reply, "$PASS")) return kQcPass;
    if (HasMarker(reply, "$FAIL")) return kQcFail;
    if (HasMarker(reply, "$NOTDONE")) return kQcNotDone;
    return kQcUnknown;
}

int CReqQCTestResult::Execute() {
    ReplyBuffer<1024> reply;
    if (!SendText("$qcresult\r\n")) {
        // Nothing was asked, so nothing is known: an earlier query's verdict must not be read as
        // this one's.
        test_result_->store(kQcUnknown, std::memory_order_relaxed);
        return kResultFailure;
    }
    int silent_reads = 0;
    while (reply.fill < kEnoughBytes) {
        if (AppendReply(reply, kReadTimeoutMs) > 0) {
            silent_reads = 0;
            continue;
        }
        ++silent_reads;
        if (reply.fill == 0 || silent_reads >= kSilentReadsAfterFirstByte) break;
    }
    std::printf("dump[%d]: %s\n", static_cast<int>(reply.fill), reply.text);
    std::fflush(stdout);
    QcTestResult verdict = Verdict(reply.text);
    test_result_->store(verdict, std::memory_order_relaxed);
    return verdict != kQcUnknown ? kResultSuccess : kResultFailure;
}

}  // namespace qv
