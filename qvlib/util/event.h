// A waitable event in the manner of the Windows event objects: manual-reset (stays signalled until
// reset) or auto-reset (one successful wait consumes the signal). Events can be waited on alone,
// together (the lowest signalled index wins) or together with a descriptor of the platform layer.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace util {

class CEvent {
public:
    enum class Kind { Manual, Auto };

    // An event that cannot get its descriptor is invalid: waits on it fail.
    explicit CEvent(Kind kind, bool initially_set = false);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool IsValid() const { return fd_ >= 0; }
    bool Set();
    bool Reset();

    // Returns serial::kWaitObject0, kWaitTimeout or kWaitFailed. Time-out in ms, kInfinite for ever.
    uint32_t Wait(uint32_t timeout_ms);

    // Waits until one of the events is signalled; returns kWaitObject0 + index of the lowest
    // signalled one (consuming it when auto-reset), kWaitTimeout or kWaitFailed.
    static uint32_t WaitAny(std::initializer_list<CEvent*> events, uint32_t timeout_ms);

    // Platform hooks for waits that combine an event with I/O readiness.
    int Descriptor() const { return fd_; }
    bool IsAutoReset() const { return kind_ == Kind::Auto; }
    // Consumes the signal of an auto-reset event after a poll saw it; false when another waiter
    // took it first. Always true for a manual-reset event.
    bool TryConsume();

private:
    int fd_;
    Kind kind_;
};

}  // namespace util
