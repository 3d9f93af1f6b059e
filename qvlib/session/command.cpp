#include "qvlib/session/command.h"

#include "qvlib/util/clock.h"

namespace qv {

bool CCommand::SendText(const void* data, uint32_t size) {
    uint32_t written = 0;
    return port_->Write(data, size, &written);
}

uint32_t CCommand::ReadReply(char* buffer, uint32_t capacity, uint32_t timeout_ms) {
    uint32_t received = 0;
    if (!port_->Read(buffer, capacity, &received, timeout_ms)) return 0;
    buffer[received] = '\0';
    return received;
}

bool CCommand::SwitchBaudRate(int baud_rate) {
    bool reopened = port_->Reopen(baud_rate);
    Pause(100);
    return reopened;
}

void CCommand::Pause(uint32_t ms) { util::SleepMs(ms); }

}  // namespace qv
