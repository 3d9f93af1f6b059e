// The POSIX port handle, shared by the files of the POSIX layer only.
#pragma once

#include <atomic>
#include <mutex>

#include "qvlib/serial/comm_platform.h"

namespace serial::platform {

class CommHandle {
public:
    CommHandle(int fd, int wake_fd, bool overlapped)
        : fd(fd), wake_fd(wake_fd), overlapped(overlapped) {}
    ~CommHandle();
    CommHandle(const CommHandle&) = delete;
    CommHandle& operator=(const CommHandle&) = delete;

    const int fd;       // the terminal; closed only when the last reference goes
    const int wake_fd;  // eventfd, readable once the handle is closed: wakes every poll on it
    const bool overlapped;
    std::atomic<bool> closed{false};
    // Incremented by CancelIo: operations started under an older value end as aborted.
    std::atomic<uint64_t> cancel_generation{0};
    // Set once a byte has been written through this handle. A port closes only after what it
    // sent has left, so a new handle's transmit queue is empty on a real line; on a
    // pseudo-terminal it would still hold the previous handle's unread bytes.
    std::atomic<bool> wrote{false};

    std::mutex mutex;  // guards the settings below, which the getters report as set
    CommState state;
    CommTimeouts timeouts;
    uint32_t event_mask = 0;
};

}  // namespace serial::platform
