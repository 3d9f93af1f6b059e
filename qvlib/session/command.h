// qv::CCommand: one device operation, created by an export in the caller's thread, owned by the
// port's session from the hand-over on and run once on the session thread. Subclasses build their
// exchange from the primitives below: send a text, pause, read what arrives, look for markers.
#pragma once

#include <cstdint>
#include <cstring>

#include "qvlib/serial/serial_port.h"
#include "qvlib/session/model_table.h"
#include "qvlib/session/progress_info.h"

namespace qv {

enum CommandResult : int { kResultSuccess = 1, kResultFailure = 2 };

// A reply buffer: capacity bytes plus one for the terminator, starting out as empty text, so a
// marker search over it never runs past its end.
template <uint32_t Capacity>
struct ReplyBuffer {
    static constexpr uint32_t kCapacity = Capacity;
    char text[Capacity + 1] = {};
};

class CCommand {
public:
    // All three point into the session, which outlives the command.
    CCommand(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model)
        : port_(port), progress_(progress), model_(model) {}
    virtual ~CCommand() = default;
    CCommand(const CCommand&) = delete;
    CCommand& operator=(const CCommand&) = delete;

    // Runs the whole exchange on the session thread: kResultSuccess or kResultFailure.
    virtual int Execute() = 0;

protected:
    // Writes the whole text; false when the write failed.
    bool SendText(const void* data, uint32_t size);
    bool SendText(const char* text) {
        return SendText(text, static_cast<uint32_t>(std::strlen(text)));
    }
    // Waits up to the time-out for the first byte, then takes what is buffered, up to the capacity.
    // On success terminates the text after the bytes and returns their count; on failure returns 0
    // and leaves the buffer as it was.
    uint32_t ReadReply(char* buffer, uint32_t capacity, uint32_t timeout_ms);
    template <uint32_t N>
    uint32_t ReadReply(ReplyBuffer<N>& reply, uint32_t timeout_ms) {
        return ReadReply(reply.text, N, timeout_ms);
    }
    // Case-sensitive search of a marker anywhere in the terminated reply text.
    static bool HasMarker(const char* reply, const char* marker) {
        return std::strstr(reply, marker) != nullptr;
    }
    // Reopens the port at another baud rate and gives the line 100 ms to settle.
    bool SwitchBaudRate(int baud_rate);
    // A fixed pause of the session thread, giving the device time to answer.
    static void Pause(uint32_t ms);

    CSerialPort* port_;
    CProgressInfo* progress_;
    const ModelInfo* model_;
};

}  // namespace qv
