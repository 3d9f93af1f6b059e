#include "qvlib/commands/serial_number.h"

namespace qv {

int CSetSerialNumber::Execute() {
    SendText("wsmt\r");  // failed writes show as a missing reply
    Pause(100);
    SendText("y");
    Pause(100);
    SendText(serial_line_.data(), static_cast<uint32_t>(serial_line_.size()));
    Pause(500);
    ReplyBuffer<1024> reply;
    ReadReply(reply, 1000);
    if (HasMarker(reply.text, "EraseFirst!")) return kResultFailure;
    return HasMarker(reply.text, "Completed!") ? kResultSuccess : kResultFailure;
}

}  // namespace qv
