// serial::CSerial: a thin object over one communications handle. Every operation stores its
// outcome as the last result (0 or a code of win_codes.h) and returns it; getters return their
// failure value instead and keep the code in the last result.
//
// Thread use: one thread does the I/O; Close may come from another thread at any time, which makes
// the I/O in flight end with a failure (nothing waits on a closed port, no descriptor is reused).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "qvlib/serial/comm_platform.h"
#include "qvlib/serial/win_codes.h"

namespace serial {

using Overlapped = platform::Overlapped;

// Waits on an overlapped structure's event for the time-out, letting its pending operation run:
// kWaitObject0, kWaitTimeout or kWaitFailed.
uint32_t WaitForOverlapped(Overlapped& ov, uint32_t timeout_ms);

class CSerial {
public:
    enum FlowControl { kFlowNone = 0, kFlowHardware = 1, kFlowSoftware = 2 };
    enum ReadMode { kReadNonBlocking = 0, kReadBlocking = 1 };

    CSerial() = default;
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Opens the device exclusively for reading and writing. Queue sizes 0 and 0 keep the driver's.
    virtual int32_t Open(const char* device, uint32_t in_queue = 0, uint32_t out_queue = 0,
                         bool overlapped = false);
    virtual int32_t Close();
    // Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. Stop bits: 0 one, 1 one and a half, 2 two.
    virtual int32_t Configure(uint32_t baud_rate, uint8_t data_bits, uint8_t parity,
                              uint8_t stop_bits);
    virtual int32_t SetEventCharacter(char character, bool adjust_mask = true);
    virtual int32_t SetEventMask(uint32_t mask);
    virtual int32_t WaitForEvent(Overlapped* ov = nullptr, uint32_t timeout_ms = kInfinite);
    virtual int32_t SetFlowControl(int mode);
    virtual int32_t SetReadMode(int mode);
    virtual int32_t GetBaudRate();
    virtual int32_t GetDataBits();
    virtual int32_t GetParity();
    virtual int32_t GetStopBits();
    virtual int32_t GetFlowControl();
    virtual uint32_t GetEventMask();
    virtual char GetEventCharacter();
    virtual int32_t WriteString(const char* text, uint32_t* written = nullptr,
                                Overlapped* ov = nullptr, uint32_t timeout_ms = kInfinite);
    virtual int32_t Write(const void* data, uint32_t size, uint32_t* written = nullptr,
                          Overlapped* ov = nullptr, uint32_t timeout_ms = kInfinite);
    virtual int32_t Read(void* buffer, uint32_t capacity, uint32_t* read = nullptr,
                         Overlapped* ov = nullptr, uint32_t timeout_ms = kInfinite);

    bool IsOpen() const;
    // Clears the driver's receive and transmit buffers; pending operations go on.
    int32_t Purge();
    int32_t CancelPendingIo();
    // The received events that lie within the event mask; clears the received-events word.
    uint32_t TakeEvents();
    int32_t GetLastResult() const { return last_result_.load(std::memory_order_relaxed); }

private:
    struct Snapshot {
        platform::HandlePtr handle;
        std::shared_ptr<util::CEvent> event;
    };
    Snapshot Take() const;
    int32_t Store(int32_t code);
    template <typename Start>
    int32_t RunIo(Overlapped* ov, uint32_t timeout_ms, uint32_t* count, Start start);
    int32_t ReadState(platform::CommState* state);
    template <typename Change>
    int32_t ModifyState(Change change);

    std::atomic<int32_t> last_result_{0};
    mutable std::mutex mutex_;  // guards handle_ and overlapped_event_ against a Close from
                                // another thread; I/O works on copies taken under it
    platform::HandlePtr handle_;
    uint32_t received_events_ = 0;
    uint32_t event_mask_ = 0;
    std::shared_ptr<util::CEvent> overlapped_event_;
};

}  // namespace serial
