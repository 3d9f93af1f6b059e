#include "qvlib/commands/erase_flash.h"

#include <cstdio>

namespace qv {

int CEraseFlash::Execute() {
    SendText(command_text_.c_str());  // a failed write shows as a missing reply
    Pause(100);
    SendText(confirmation_.c_str());
    // The erase takes the device a while before it reports.
    Pause(500);
    Pause(1000);
    ReplyBuffer<1024> reply;
    ReadReply(reply, 1000);
    if (HasMarker(reply.text, "Completed!")) return kResultSuccess;
    std::printf("dump: %s", reply.text);
    std::fflush(stdout);
    return kResultFailure;
}

}  // namespace qv
