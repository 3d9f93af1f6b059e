// Events on eventfd: the counter is non-zero exactly while the event is signalled, so a poll for
// readability is a wait on the event and a read of the counter resets it.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "qvlib/serial/win_codes.h"
#include "qvlib/util/clock.h"
#include "qvlib/util/event.h"

namespace util {

CEvent::CEvent(Kind kind, bool initially_set)
    : fd_(eventfd(initially_set ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)), kind_(kind) {}

CEvent::~CEvent() {
    if (fd_ >= 0) close(fd_);
}

bool CEvent::Set() {
    if (fd_ < 0) return false;
    eventfd_t one = 1;
    // EAGAIN means the counter is saturated, which is still "signalled".
    return write(fd_, &one, sizeof one) == sizeof one || errno == EAGAIN;
}

bool CEvent::Reset() {
    if (fd_ < 0) return false;
    eventfd_t value;
    return read(fd_, &value, sizeof value) == sizeof value || errno == EAGAIN;
}

bool CEvent::TryConsume() {
    if (kind_ == Kind::Manual) return true;
    eventfd_t value;
    return read(fd_, &value, sizeof value) == sizeof value;
}

uint32_t CEvent::Wait(uint32_t timeout_ms) { return WaitAny({this}, timeout_ms); }

uint32_t CEvent::WaitAny(std::initializer_list<CEvent*> events, uint32_t timeout_ms) {
    std::vector<pollfd> fds;
    for (CEvent* e : events) {
        if (e == nullptr || e->fd_ < 0) return serial::kWaitFailed;
        fds.push_back({e->fd_, POLLIN, 0});
    }
    Deadline deadline(timeout_ms);
    for (;;) {
        int n = poll(fds.data(), fds.size(), deadline.PollTimeout());
        if (n < 0) {
            if (errno == EINTR) continue;
            return serial::kWaitFailed;
        }
        if (n == 0) {
            if (deadline.Expired()) return serial::kWaitTimeout;
            continue;
        }
        uint32_t index = 0;
        for (CEvent* e : events) {
            if ((fds[index].revents & POLLIN) && e->TryConsume())
                return serial::kWaitObject0 + index;
            if (fds[index].revents & (POLLERR | POLLNVAL)) return serial::kWaitFailed;
            ++index;
        }
        // Another waiter consumed an auto-reset signal first: wait again for what is left.
    }
}

}  // namespace util
