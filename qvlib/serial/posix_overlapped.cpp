// Overlapped reads, writes and event waits on a non-blocking terminal. An operation that cannot
// finish at once stays pending on its overlapped structure and makes progress while somebody
// waits on that structure: the wait polls the structure's event, the terminal and the handle's
// wake descriptor together, so closing the port from another thread ends the wait at once.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "qvlib/serial/posix_handle.h"
#include "qvlib/serial/win_codes.h"
#include "qvlib/util/clock.h"

namespace serial::platform {

struct PendingOp {
    enum class Kind { Read, Write, WaitEvent };
    Kind kind;
    HandlePtr handle;
    uint64_t generation;
    uint8_t* read_buffer = nullptr;
    const uint8_t* write_data = nullptr;
    uint32_t size = 0;
    uint32_t done = 0;
    uint32_t* events_out = nullptr;
    bool return_on_any = false;           // read: complete as soon as one byte is there
    std::optional<util::Deadline> total;  // read or write total time-out, when one is set
    int32_t result = kErrorIoPending;

    PendingOp(Kind k, HandlePtr h)
        : kind(k), handle(std::move(h)), generation(handle->cancel_generation.load()) {}
    bool Pending() const { return result == kErrorIoPending; }
    void Complete(int32_t code) { result = code; }
};

namespace {

uint32_t EventMask(CommHandle& h) {
    std::lock_guard lock(h.mutex);
    return h.event_mask;
}

CommTimeouts Timeouts(CommHandle& h) {
    std::lock_guard lock(h.mutex);
    return h.timeouts;
}

short PollEvents(const PendingOp& op) {
    switch (op.kind) {
        case PendingOp::Kind::Read: return POLLIN;
        case PendingOp::Kind::Write: return POLLOUT;
        case PendingOp::Kind::WaitEvent:
            return (EventMask(*op.handle) & (kEvRxChar | kEvRxFlag)) ? POLLIN : 0;
    }
    return 0;
}

void StepRead(PendingOp& op) {
    while (op.done < op.size) {
        ssize_t n = read(op.handle->fd, op.read_buffer + op.done, op.size - op.done);
        if (n > 0) {
            op.done += static_cast<uint32_t>(n);
            if (op.return_on_any) break;
            continue;
        }
        if (n == 0) return op.Complete(kErrorGenFailure);  // hung up
        if (errno == EINTR) continue;
        if (errno == EAGAIN) break;
        return op.Complete(LastErrorCode());
    }
    if (op.done == op.size || (op.return_on_any && op.done > 0)) op.Complete(kSuccess);
}

void StepWrite(PendingOp& op) {
    while (op.done < op.size) {
        ssize_t n = write(op.handle->fd, op.write_data + op.done, op.size - op.done);
        if (n >= 0) {
            if (n > 0) op.handle->wrote.store(true, std::memory_order_relaxed);
            op.done += static_cast<uint32_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) break;
        return op.Complete(LastErrorCode());
    }
    if (op.done == op.size) op.Complete(kSuccess);
}

void StepWaitEvent(PendingOp& op, short revents) {
    uint32_t wanted = EventMask(*op.handle) & (kEvRxChar | kEvRxFlag);
    int queued = 0;
    // The event character is not told apart from other input: any byte satisfies both events.
    if (wanted != 0 && ioctl(op.handle->fd, FIONREAD, &queued) == 0 && queued > 0) {
        *op.events_out = wanted;
        return op.Complete(kSuccess);
    }
    if (revents & (POLLHUP | POLLERR)) op.Complete(kErrorGenFailure);
}

// Moves a pending operation on without blocking. revents: what the last poll saw on the terminal.
void Step(PendingOp& op, short revents) {
    if (!op.Pending()) return;
    if (op.handle->closed || op.generation != op.handle->cancel_generation.load()) {
        return op.Complete(kErrorOperationAborted);
    }
    if (revents & POLLNVAL) return op.Complete(kErrorInvalidHandle);
    switch (op.kind) {
        case PendingOp::Kind::Read: StepRead(op); break;
        case PendingOp::Kind::Write: StepWrite(op); break;
        case PendingOp::Kind::WaitEvent: StepWaitEvent(op, revents); break;
    }
    // A read or write whose own time-out ran out completes with what it has moved.
    if (op.Pending() && op.total && op.total->Expired()) op.Complete(kSuccess);
}

// Hands a started operation to its caller: completed, pending on the caller's structure, or run
// to its end here when the port was opened without overlapped I/O.
int32_t Finish(const std::shared_ptr<PendingOp>& op, uint32_t* count, Overlapped* ov) {
    if (op->Pending()) {
        if (ov != nullptr) {
            if (!op->handle->overlapped) return kErrorInvalidParameter;
            ov->event->Reset();
            ov->pending = op;
            return kErrorIoPending;
        }
        if (op->handle->overlapped) return kErrorInvalidParameter;
        Overlapped own{std::make_shared<util::CEvent>(util::CEvent::Kind::Manual), op};
        if (WaitOverlapped(own, kInfinite) != kWaitObject0) return LastErrorCode();
    }
    if (ov != nullptr) ov->pending = op;
    if (count != nullptr) *count = op->done;
    return op->result;
}

bool Usable(const HandlePtr& handle) { return handle && !handle->closed; }

}  // namespace

int32_t ReadFile(const HandlePtr& handle, void* buffer, uint32_t size, uint32_t* count,
                 Overlapped* ov) {
    if (count != nullptr) *count = 0;
    if (!Usable(handle)) return kErrorInvalidHandle;
    auto op = std::make_shared<PendingOp>(PendingOp::Kind::Read, handle);
    op->read_buffer = static_cast<uint8_t*>(buffer);
    op->size = size;
    CommTimeouts t = Timeouts(*handle);
    bool immediate =
        t.read_interval == kInfinite && t.read_total_multiplier == 0 && t.read_total_constant == 0;
    op->return_on_any = t.read_interval == kInfinite && t.read_total_multiplier == kInfinite &&
                        t.read_total_constant != 0 && t.read_total_constant != kInfinite;
    uint64_t total = op->return_on_any
                         ? t.read_total_constant
                         : uint64_t{t.read_total_multiplier} * size + t.read_total_constant;
    if (!immediate && total != 0) {
        op->total.emplace(static_cast<uint32_t>(std::min<uint64_t>(total, kInfinite - 1)));
    }
    Step(*op, 0);
    if (immediate && op->Pending()) op->Complete(kSuccess);  // whatever was buffered
    return Finish(op, count, ov);
}

int32_t WriteFile(const HandlePtr& handle, const void* data, uint32_t size, uint32_t* count,
                  Overlapped* ov) {
    if (count != nullptr) *count = 0;
    if (!Usable(handle)) return kErrorInvalidHandle;
    auto op = std::make_shared<PendingOp>(PendingOp::Kind::Write, handle);
    op->write_data = static_cast<const uint8_t*>(data);
    op->size = size;
    CommTimeouts t = Timeouts(*handle);
    uint64_t total = uint64_t{t.write_total_multiplier} * size + t.write_total_constant;
    if (total != 0)
        op->total.emplace(static_cast<uint32_t>(std::min<uint64_t>(total, kInfinite - 1)));
    Step(*op, 0);
    return Finish(op, count, ov);
}

int32_t WaitCommEvent(const HandlePtr& handle, uint32_t* events, Overlapped* ov) {
    if (!Usable(handle)) return kErrorInvalidHandle;
    if (EventMask(*handle) == 0) return kErrorInvalidParameter;
    auto op = std::make_shared<PendingOp>(PendingOp::Kind::WaitEvent, handle);
    op->events_out = events;
    Step(*op, 0);
    return Finish(op, nullptr, ov);
}

uint32_t WaitOverlapped(Overlapped& ov, uint32_t timeout_ms) {
    if (!ov.event || !ov.event->IsValid()) return kWaitFailed;
    util::Deadline deadline(timeout_ms);
    for (;;) {
        std::shared_ptr<PendingOp> op = ov.pending;
        bool pending = op && op->Pending();
        pollfd fds[3] = {{ov.event->Descriptor(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        int timeout = deadline.PollTimeout();
        if (pending) {
            fds[1] = {op->handle->fd, PollEvents(*op), 0};
            fds[2] = {op->handle->wake_fd, POLLIN, 0};
            count = 3;
            if (op->total) {
                int own = op->total->PollTimeout();
                timeout = timeout < 0 ? own : std::min(timeout, own);
            }
        }
        int n = poll(fds, count, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        if (fds[0].revents & POLLIN) {
            if (ov.event->TryConsume()) return kWaitObject0;
            continue;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) return kWaitFailed;
        if (pending) {
            Step(*op, fds[1].revents);
            if (!op->Pending()) {
                ov.event->Set();  // completion signals the structure's event, as the driver would
                continue;
            }
        }
        if (n == 0 && deadline.Expired()) return kWaitTimeout;
    }
}

int32_t GetOverlappedResult(Overlapped& ov, uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (!ov.pending) return kErrorInvalidParameter;
    if (ov.pending->Pending()) return kErrorIoIncomplete;
    if (count != nullptr) *count = ov.pending->done;
    return ov.pending->result;
}

}  // namespace serial::platform
