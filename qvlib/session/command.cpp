#include "qvlib/session/command.h"

#include "qvlib/util/clock.h"

namespace qv {
namespace {

// Thrown by the primitives and caught only by CCommand::Run, on the session thread.
struct PortClosed {};

}  // namespace

int CCommand::Run() {
    try {
        return Execute();
    } catch (const PortClosed&) {
        return kResultFailure;
    } catch (...) {
        // An allocation failure or the like: the command failed, the session goes on.
        return kResultFailure;
    }
}

void CCommand::EndIfClosed() const {
    // Shut down by the session, or closed by a reopen that failed: nothing on this port can
    // succeed any more.
    if (port_->IsShutDown() || !port_->IsOpen()) throw PortClosed{};
}

bool CCommand::SendText(const void* data, uint32_t size) {
    EndIfClosed();
    uint32_t written = 0;
    bool ok = port_->Write(data, size, &written);
    if (!ok) EndIfClosed();
    return ok;
}

uint32_t CCommand::ReadReply(char* buffer, uint32_t capacity, uint32_t timeout_ms) {
    EndIfClosed();
    uint32_t received = 0;
    if (!port_->Read(buffer, capacity, &received, timeout_ms)) {
        EndIfClosed();
        return 0;
    }
    buffer[received] = '\0';
    return received;
}

bool CCommand::SwitchBaudRate(int baud_rate) {
    EndIfClosed();
    bool reopened = port_->Reopen(baud_rate);
    if (!reopened) EndIfClosed();
    Pause(100);
    return reopened;
}

bool CCommand::PurgeReceived() {
    EndIfClosed();
    return port_->Purge();
}

void CCommand::Pause(uint32_t ms) { util::SleepMs(ms); }

uint64_t CCommand::NowMs() { return util::NowMs(); }

}  // namespace qv
