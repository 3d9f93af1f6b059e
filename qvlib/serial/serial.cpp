#include "qvlib/serial/serial.h"

#include <cstring>

namespace serial {

using platform::CommState;
using platform::CommTimeouts;

uint32_t WaitForOverlapped(Overlapped& ov, uint32_t timeout_ms) {
    return platform::WaitOverlapped(ov, timeout_ms);
}

CSerial::~CSerial() { Close(); }

CSerial::Snapshot CSerial::Take() const {
    std::lock_guard lock(mutex_);
    return {handle_, overlapped_event_};
}

int32_t CSerial::Store(int32_t code) {
    last_result_.store(code, std::memory_order_relaxed);
    return code;
}

bool CSerial::IsOpen() const {
    std::lock_guard lock(mutex_);
    return handle_ != nullptr;
}

int32_t CSerial::Open(const char* device, uint32_t in_queue, uint32_t out_queue, bool overlapped) {
    Store(kSuccess);
    if (IsOpen()) return Store(kErrorAlreadyInitialized);
    if (device == nullptr) return Store(kErrorInvalidParameter);
    platform::HandlePtr handle;
    int32_t code = platform::OpenComm(device, overlapped, &handle);
    if (code != kSuccess) return Store(code);
    std::shared_ptr<util::CEvent> event;
    if (overlapped) {
        event = std::make_shared<util::CEvent>(util::CEvent::Kind::Manual);
        if (!event->IsValid()) {
            code = platform::LastErrorCode();
            platform::CloseComm(handle);
            return Store(code);
        }
    }
    if (in_queue != 0 || out_queue != 0) {
        code = platform::SetupComm(*handle, in_queue, out_queue);
        if (code != kSuccess) {
            platform::CloseComm(handle);
            return Store(code);
        }
    }
    {
        std::lock_guard lock(mutex_);
        handle_ = handle;
        overlapped_event_ = event;
    }
    SetEventMask(kEvBreak | kEvErr | kEvRxChar);
    int32_t result = SetReadMode(kReadNonBlocking);
    platform::CommConfig config;
    if (platform::GetDefaultCommConfig(device, &config) == kSuccess) {
        platform::SetCommConfig(*handle, config);
    }
    return Store(result);
}

int32_t CSerial::Close() {
    Store(kSuccess);
    platform::HandlePtr handle;
    {
        std::lock_guard lock(mutex_);
        handle.swap(handle_);
        overlapped_event_.reset();
    }
    platform::CloseComm(handle);
    return kSuccess;
}

int32_t CSerial::ReadState(CommState* state) {
    Store(kSuccess);
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    return Store(platform::GetCommState(*s.handle, state));
}

template <typename Change>
int32_t CSerial::ModifyState(Change change) {
    Store(kSuccess);
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    CommState state;
    int32_t code = platform::GetCommState(*s.handle, &state);
    if (code != kSuccess) return Store(code);
    change(state);
    return Store(platform::SetCommState(*s.handle, state));
}

int32_t CSerial::Configure(uint32_t baud_rate, uint8_t data_bits, uint8_t parity,
                           uint8_t stop_bits) {
    return ModifyState([&](CommState& state) {
        state.baud_rate = baud_rate;
        state.byte_size = data_bits;
        state.parity = parity;
        state.stop_bits = stop_bits;
        state.parity_check = parity != 0;
    });
}

int32_t CSerial::SetEventCharacter(char character, bool adjust_mask) {
    if (ModifyState([&](CommState& state) { state.event_char = character; }) != kSuccess) {
        return GetLastResult();
    }
    if (adjust_mask) return SetEventMask(GetEventMask() | kEvRxFlag);
    return kSuccess;
}

int32_t CSerial::SetEventMask(uint32_t mask) {
    Store(kSuccess);
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    int32_t code = platform::SetCommMask(*s.handle, mask);
    if (code == kSuccess) event_mask_ = mask;
    return Store(code);
}

int32_t CSerial::SetFlowControl(int mode) {
    Store(kSuccess);
    if (!Take().handle) return Store(kErrorInvalidHandle);
    if (mode < kFlowNone || mode > kFlowSoftware) return Store(kErrorInvalidArg);
    bool hardware = mode == kFlowHardware;
    bool software = mode == kFlowSoftware;
    return ModifyState([&](CommState& state) {
        state.out_cts_flow = hardware;
        state.out_dsr_flow = hardware;
        state.dtr_control =
            hardware ? platform::kDtrControlHandshake : platform::kDtrControlDisable;
        state.rts_control =
            hardware ? platform::kRtsControlHandshake : platform::kRtsControlDisable;
        state.out_x = software;
        state.in_x = software;
    });
}

int32_t CSerial::SetReadMode(int mode) {
    Store(kSuccess);
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    if (mode != kReadNonBlocking && mode != kReadBlocking) return Store(kErrorInvalidArg);
    CommTimeouts timeouts;
    int32_t code = platform::GetCommTimeouts(*s.handle, &timeouts);
    if (code != kSuccess) return Store(code);
    bool blocking = mode == kReadBlocking;
    timeouts.read_interval = blocking ? 0 : kInfinite;
    timeouts.read_total_multiplier = 0;
    timeouts.read_total_constant = 0;
    return Store(platform::SetCommTimeouts(*s.handle, timeouts));
}

int32_t CSerial::GetBaudRate() {
    CommState s;
    return ReadState(&s) == kSuccess ? static_cast<int32_t>(s.baud_rate) : -1;
}

int32_t CSerial::GetDataBits() {
    CommState s;
    return ReadState(&s) == kSuccess ? s.byte_size : -1;
}

int32_t CSerial::GetParity() {
    CommState s;
    if (ReadState(&s) != kSuccess) return -1;
    return s.parity_check ? s.parity : 0;
}

int32_t CSerial::GetStopBits() {
    CommState s;
    return ReadState(&s) == kSuccess ? s.stop_bits : -1;
}

int32_t CSerial::GetFlowControl() {
    CommState s;
    if (ReadState(&s) != kSuccess) return -1;
    if (s.dtr_control == platform::kDtrControlHandshake &&
        s.rts_control == platform::kRtsControlHandshake) {
        return kFlowHardware;
    }
    if (s.out_x && s.in_x) return kFlowSoftware;
    return kFlowNone;
}

uint32_t CSerial::GetEventMask() {
    Store(kSuccess);
    if (!Take().handle) {
        Store(kErrorInvalidHandle);
        return 0;
    }
    return event_mask_;
}

char CSerial::GetEventCharacter() {
    CommState s;
    return ReadState(&s) == kSuccess ? s.event_char : 0;
}

int32_t CSerial::Purge() {
    Store(kSuccess);
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    return Store(platform::PurgeComm(*s.handle));
}

int32_t CSerial::CancelPendingIo() {
    Store(kSuccess);
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    return Store(platform::CancelIo(*s.handle));
}

uint32_t CSerial::TakeEvents() {
    uint32_t events = received_events_ & event_mask_;
    received_events_ = 0;
    return events;
}

// The overlapped I/O pattern shared by WaitForEvent, Write and Read.
template <typename Start>
int32_t CSerial::RunIo(Overlapped* ov, uint32_t timeout_ms, uint32_t* count, Start start) {
    Store(kSuccess);
    if (count != nullptr) *count = 0;
    auto s = Take();
    if (!s.handle) return Store(kErrorInvalidHandle);
    if (!s.event && (ov != nullptr || timeout_ms != kInfinite)) {
        return Store(kErrorInvalidFunction);
    }
    Overlapped internal;
    bool own_wait = ov == nullptr && s.event != nullptr;
    if (own_wait) {
        internal.event = s.event;
        ov = &internal;
    }
    int32_t code = start(s.handle, ov);
    if (code == kSuccess) {
        if (ov != nullptr) ov->event->Set();
        return Store(kSuccess);
    }
    if (code != kErrorIoPending) return Store(code);
    if (!own_wait) return Store(kSuccess);  // the caller waits on its own structure
    switch (platform::WaitOverlapped(internal, timeout_ms)) {
        case kWaitObject0: return Store(platform::GetOverlappedResult(internal, count));
        case kWaitTimeout: platform::CancelIo(*s.handle); return Store(kErrorTimeout);
        default: {
            int32_t error = platform::LastErrorCode();
            return Store(error != kSuccess ? error : kErrorGenFailure);
        }
    }
}

int32_t CSerial::WaitForEvent(Overlapped* ov, uint32_t timeout_ms) {
    return RunIo(ov, timeout_ms, nullptr, [this](const platform::HandlePtr& h, Overlapped* o) {
        return platform::WaitCommEvent(h, &received_events_, o);
    });
}

int32_t CSerial::WriteString(const char* text, uint32_t* written, Overlapped* ov,
                             uint32_t timeout_ms) {
    return Write(text, text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0, written, ov,
                 timeout_ms);
}

int32_t CSerial::Write(const void* data, uint32_t size, uint32_t* written, Overlapped* ov,
                       uint32_t timeout_ms) {
    return RunIo(ov, timeout_ms, written, [&](const platform::HandlePtr& h, Overlapped* o) {
        return platform::WriteFile(h, data, size, written, o);
    });
}

int32_t CSerial::Read(void* buffer, uint32_t capacity, uint32_t* read, Overlapped* ov,
                      uint32_t timeout_ms) {
    return RunIo(ov, timeout_ms, read, [&](const platform::HandlePtr& h, Overlapped* o) {
        return platform::ReadFile(h, buffer, capacity, read, o);
    });
}

}  // namespace serial
