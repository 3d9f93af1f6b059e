// The operations the serial logic needs from the platform's serial interface, in the shape of the
// Windows communications API (open, device control settings, time-outs, event mask, overlapped
// reads, writes and event waits). One platform file implements them (posix_comm.cpp); the logic
// in serial.cpp never sees a platform type. Every function returns 0 or a result code of
// win_codes.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qvlib/util/event.h"

namespace serial::platform {

// The device control settings of a port. Fields without a counterpart in the platform's terminal
// settings are kept by the platform layer as set, so that the getters report what was set.
struct CommState {
    uint32_t baud_rate = 9600;
    uint8_t byte_size = 8;
    uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stop_bits = 0;  // 0 one, 1 one and a half, 2 two
    bool parity_check = false;
    bool out_cts_flow = false;
    bool out_dsr_flow = false;
    uint8_t dtr_control = 1;  // 0 disable, 1 enable, 2 handshake
    uint8_t rts_control = 1;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool out_x = false;
    bool in_x = false;
    char event_char = 0;
};

constexpr uint8_t kDtrControlDisable = 0;
constexpr uint8_t kDtrControlHandshake = 2;
constexpr uint8_t kRtsControlDisable = 0;
constexpr uint8_t kRtsControlHandshake = 2;

struct CommTimeouts {
    uint32_t read_interval = 0;
    uint32_t read_total_multiplier = 0;
    uint32_t read_total_constant = 0;
    uint32_t write_total_multiplier = 0;
    uint32_t write_total_constant = 0;
};

// The default configuration record of a device (52 bytes on Windows): its device control settings.
struct CommConfig {
    CommState state;
};

class CommHandle;  // an open port; shared so that closing never frees what a waiter still uses
struct PendingOp;  // an overlapped operation that has not completed yet
using HandlePtr = std::shared_ptr<CommHandle>;

// The caller-visible overlapped structure: the event to signal on completion, and the operation
// still pending on it, which completes while somebody waits on the structure (WaitOverlapped).
struct Overlapped {
    std::shared_ptr<util::CEvent> event;
    std::shared_ptr<PendingOp> pending;
};

int32_t OpenComm(const std::string& device_name, bool overlapped, HandlePtr* out);
// Marks the handle closed and wakes every wait on it; the descriptor is released with the last
// reference, so that no operation in flight ever sees it reused.
void CloseComm(const HandlePtr& handle);
bool IsOverlapped(const CommHandle& handle);

int32_t SetupComm(CommHandle& handle, uint32_t in_queue, uint32_t out_queue);
int32_t GetCommState(CommHandle& handle, CommState* state);
int32_t SetCommState(CommHandle& handle, const CommState& state);
int32_t GetCommTimeouts(CommHandle& handle, CommTimeouts* timeouts);
int32_t SetCommTimeouts(CommHandle& handle, const CommTimeouts& timeouts);
int32_t SetCommMask(CommHandle& handle, uint32_t mask);
int32_t PurgeComm(CommHandle& handle);
int32_t CancelIo(CommHandle& handle);
int32_t GetDefaultCommConfig(const std::string& device_name, CommConfig* config);
int32_t SetCommConfig(CommHandle& handle, const CommConfig& config);

// Start an operation. 0: completed at once (count set). kErrorIoPending: pending on `ov` (the
// handle must be overlapped); it completes during WaitOverlapped. Without `ov` on a handle opened
// without overlapped I/O the call blocks until done. Other codes: failure.
int32_t ReadFile(const HandlePtr& handle, void* buffer, uint32_t size, uint32_t* count,
                 Overlapped* ov);
int32_t WriteFile(const HandlePtr& handle, const void* data, uint32_t size, uint32_t* count,
                  Overlapped* ov);
int32_t WaitCommEvent(const HandlePtr& handle, uint32_t* events, Overlapped* ov);

// Waits until the overlapped structure's event is signalled, driving its pending operation:
// kWaitObject0, kWaitTimeout, or kWaitFailed (also when the port is closed under the wait).
uint32_t WaitOverlapped(Overlapped& ov, uint32_t timeout_ms);
// The outcome of the operation last started on `ov`: 0 and its count, kErrorIoPending while it
// runs, or its error.
int32_t GetOverlappedResult(Overlapped& ov, uint32_t* count);

// The platform error of the last failed system call, as a result code.
int32_t LastErrorCode();
int32_t ErrnoToCode(int err);

}  // namespace serial::platform
