#include "qvlib/commands/get_version.h"

#include <algorithm>
#include <cstring>

namespace qv {

bool CGetVersion::ExtractValue(char* reply, uint32_t length, char* destination,
                               uint32_t destination_size) {
    // NUL bytes inside the reply would end the text early and hide the markers behind them.
    std::replace(reply, reply + length, '\0', '\r');
    reply[length] = '\0';
    if (!HasMarker(reply, "OK!")) return false;
    const char* dollar = std::strchr(reply, '$');
    if (dollar == nullptr) return false;
    const char* end = std::strchr(dollar + 1, '\r');
    if (end == nullptr || destination_size == 0) return false;
    size_t count = std::min<size_t>(static_cast<size_t>(end - dollar - 1), destination_size - 1);
    std::memcpy(destination, dollar + 1, count);
    destination[count] = '\0';
    return true;
}

int CGetVersion::Execute() {
    SendText(command_text_.c_str());  // a failed write shows as a missing reply
    Pause(100);
    ReplyBuffer<4096> reply;
    uint32_t received = ReadReply(reply, 1000);
    return ExtractValue(reply.text, received, destination_, destination_size_) ? kResultSuccess
                                                                               : kResultFailure;
}

}  // namespace qv
