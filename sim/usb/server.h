// The device thread: one poll loop over the listening socket, connections that have not said
// what they want yet, the PIPE00 connections and the PIPE01 connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/usb/shared_state.h"
#include "sim/usb/socket_util.h"

namespace z31sim::usb {

class Server {
public:
    // Listens at `path` (throws std::runtime_error if it cannot) and starts the thread.
    Server(std::string path, SharedState& shared);
    // Stops the thread, closes everything and removes the socket file if it is still ours.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Has the thread act on the knobs set so far; returns once it has (with `lock` held again),
    // or false if it has not within a few seconds.
    bool Sync(std::unique_lock<std::mutex>& lock);
    // Wakes the thread so that it recomputes its time-out (a new stall, for instance).
    void Wake();

private:
    struct Pending {
        Fd fd;
        Clock::time_point deadline;  // closed if it has said nothing by then
    };
    // A PIPE00 connection and what it carries (decided by its first transfer).
    struct PipeOut {
        Fd fd;
        OutStream carries = OutStream::kUndecided;
    };

    void Run();
    int PollTimeoutMs(Clock::time_point now) const;
    void Step(Clock::time_point now);
    void ApplyKnobs();
    void CloseConnections();
    void AcceptAll(Clock::time_point now);
    void ServePending(Clock::time_point now);
    void Answer(Fd fd, std::span<const char> hello);
    void ServePipeIn();
    void FlushPipeIn();
    void ServePipeOut();
    // Reads up to `limit` transfers; false once the connection is finished (closed or failed).
    bool ReadPipeOut(PipeOut& conn, std::size_t limit);
    void Dispatch(std::vector<Bytes> replies);

    const std::string path_;
    SharedState& shared_;
    Fd wake_;
    Fd listener_;
    FileId listener_id_;
    std::vector<Pending> pending_;
    std::vector<PipeOut> pipe_out_;  // oldest first, each served until it closes
    Fd pipe_in_;
    std::deque<Bytes> in_queue_;  // replies owed to pipe_in_ that it could not take yet
    std::deque<Bytes> waiting_;   // replies made while no PIPE01 was open
    std::vector<std::uint8_t> buffer_;
    Clock::time_point accept_paused_until_{};
    std::thread thread_;
};

}  // namespace z31sim::usb
