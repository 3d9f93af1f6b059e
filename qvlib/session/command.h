// qv::CCommand: one device operation, created by an export in the caller's thread, owned by the
// port's session from the hand-over on and run once on the session thread. Subclasses build their
// exchange from the primitives below: send a text, pause, read what arrives, look for markers.
//
// A port closed under a running command (CloseDevice, library unload), or left closed by a reopen
// that failed, ends the command at its next send, read or baud rate switch: the primitive unwinds Execute and Run returns kResultFailure, so
// no command goes on through the rest of its exchange on a dead port.
#pragma once

#include <cstdint>
#include <cstring>

#include "qvlib/serial/serial_port.h"
#include "qvlib/session/model_table.h"
#include "qvlib/session/progress_info.h"

namespace qv {

enum CommandResult : int { kResultSuccess = 1, kResultFailure = 2 };

// A reply buffer: capacity bytes plus one for the terminator, starting out as empty text, so a
// marker search over it never runs past its end. `fill` counts the bytes collected so far; reads
// that append continue there.
template <uint32_t Capacity>
struct ReplyBuffer {
    static constexpr uint32_t kCapacity = Capacity;
    char text[Capacity + 1] = {};
    uint32_t fill = 0;

    uint32_t Room() const { return Capacity - fill; }
    bool Full() const { return fill >= Capacity; }
    void Clear() {
        fill = 0;
        text[0] = '\0';
    }
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
    // Execute, ended with kResultFailure when the port is closed under it; never throws.
    int Run();

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
    // The same into a reply buffer from its start; the fill becomes the count read (unchanged on
    // failure).
    template <uint32_t N>
    uint32_t ReadReply(ReplyBuffer<N>& reply, uint32_t timeout_ms) {
        uint32_t count = ReadReply(reply.text, N, timeout_ms);
        if (count > 0) reply.fill = count;
        return count;
    }
    // One read at the fill position with the room left, advancing the fill: the count read.
    template <uint32_t N>
    uint32_t AppendReply(ReplyBuffer<N>& reply, uint32_t timeout_ms) {
        if (reply.Full()) return 0;
        uint32_t count = ReadReply(reply.text + reply.fill, reply.Room(), timeout_ms);
        reply.fill += count;
        return count;
    }
    // Listens for `budget_ms` in total: appends reads of up to `read_timeout_ms` each while budget
    // is left, the buffer has room and (when a stop marker is given) the marker has not arrived.
    // Each read costs the budget the milliseconds it took, never more than what is left, so a
    // silent line ends the listening after one read. Returns the fill.
    template <uint32_t N>
    uint32_t ListenFor(ReplyBuffer<N>& reply, uint32_t budget_ms, uint32_t read_timeout_ms,
                       const char* stop_marker = nullptr) {
        uint32_t budget = budget_ms;
        while (budget > 0 && !reply.Full()) {
            if (stop_marker != nullptr && HasMarker(reply.text, stop_marker)) break;
            budget -= TimedAppend(reply, read_timeout_ms, budget);
        }
        return reply.fill;
    }
    // A timed collection: reads of up to `read_timeout_ms` at the fill position, whatever
    // arrives, until `budget_ms` of read time is spent or the buffer is full. No read waits longer
    // than the budget left, so the collection lasts its budget and not up to a read more.
    template <uint32_t N>
    uint32_t Collect(ReplyBuffer<N>& reply, uint32_t budget_ms, uint32_t read_timeout_ms) {
        uint32_t budget = budget_ms;
        while (budget > 0 && !reply.Full()) {
            budget -=
                TimedAppend(reply, read_timeout_ms < budget ? read_timeout_ms : budget, budget);
        }
        return reply.fill;
    }
    // Case-sensitive search of a marker anywhere in the terminated reply text.
    static bool HasMarker(const char* reply, const char* marker) {
        return std::strstr(reply, marker) != nullptr;
    }
    // Reopens the port at another baud rate and gives the line 100 ms to settle.
    bool SwitchBaudRate(int baud_rate);
    // Discards what the port has received and nobody has read yet.
    bool PurgeReceived();
    // A fixed pause of the session thread, giving the device time to answer.
    static void Pause(uint32_t ms);
    // The injected clock's milliseconds.
    static uint64_t NowMs();

    CSerialPort* port_;
    CProgressInfo* progress_;
    const ModelInfo* model_;

private:
    // AppendReply, returning the milliseconds it took, at most `limit_ms`.
    template <uint32_t N>
    uint32_t TimedAppend(ReplyBuffer<N>& reply, uint32_t timeout_ms, uint32_t limit_ms) {
        uint64_t start = NowMs();
        uint32_t count = AppendReply(reply, timeout_ms);
        uint64_t took = NowMs() - start;
        // A read that fails at once (a line error) still costs a millisecond, so that the
        // listening ends.
        if (count == 0 && took == 0) took = 1;
        return took < limit_ms ? static_cast<uint32_t>(took) : limit_ms;
    }
    // Unwinds Execute when the port has been shut down under the command.
    void EndIfClosed() const;
};

}  // namespace qv
