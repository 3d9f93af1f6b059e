#include "qvlib/serial/serial_port.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "qvlib/serial/port_names.h"

using namespace serial;

namespace serial {
namespace {

std::mutex g_stand_in_mutex;
std::map<int, LineStandIn*>& StandIns() {
    static std::map<int, LineStandIn*> stand_ins;
    return stand_ins;
}

}  // namespace

void InstallLineStandIn(int port_number, LineStandIn* line) {
    std::lock_guard lock(g_stand_in_mutex);
    if (line != nullptr) {
        StandIns()[port_number] = line;
    } else {
        StandIns().erase(port_number);
    }
}

LineStandIn* FindLineStandIn(int port_number) {
    std::lock_guard lock(g_stand_in_mutex);
    auto it = StandIns().find(port_number);
    return it != StandIns().end() ? it->second : nullptr;
}

}  // namespace serial

CSerialPort::CSerialPort() {
    overlapped_.event = std::make_shared<util::CEvent>(util::CEvent::Kind::Manual);
}

CSerialPort::~CSerialPort() { Close(); }

bool CSerialPort::Fail(int32_t code) {
    last_result_.store(code, std::memory_order_relaxed);
    return false;
}

bool CSerialPort::Open(int port_number, int baud_rate) {
    if (shut_down_.load()) return Fail(kErrorInvalidHandle);
    if (LineStandIn* line = FindLineStandIn(port_number)) {
        stand_in_.store(line);
        if (!line->Open(baud_rate)) return Fail(kErrorFileNotFound);
        if (shut_down_.load()) {
            line->Close();
            return Fail(kErrorInvalidHandle);
        }
        port_number_ = port_number;
        baud_rate_ = baud_rate;
        last_result_.store(kSuccess, std::memory_order_relaxed);
        return true;
    }
    std::string path = DevicePathForName(ComDeviceName(port_number));
    if (path.empty()) return Fail(kErrorFileNotFound);
    if (port_.Open(path.c_str(), 0, 0, true) != kSuccess) return Fail(port_.GetLastResult());
    auto step_failed = [this] {
        int32_t code = port_.GetLastResult();
        port_.Close();
        return Fail(code);
    };
    if (port_.Configure(static_cast<uint32_t>(baud_rate), 8, 0, 0) != kSuccess)
        return step_failed();
    if (port_.Purge() != kSuccess) return step_failed();
    if (port_.SetReadMode(CSerial::kReadNonBlocking) != kSuccess) return step_failed();
    // A Shutdown that raced with this open must still win.
    if (shut_down_.load()) {
        port_.Close();
        return Fail(kErrorInvalidHandle);
    }
    port_number_ = port_number;
    baud_rate_ = baud_rate;
    last_result_.store(kSuccess, std::memory_order_relaxed);
    return true;
}

void CSerialPort::Close() {
    if (LineStandIn* line = stand_in_.load()) line->Close();
    if (port_.IsOpen()) port_.Close();
    // A completed wait keeps its operation, and with it a reference to the handle, on our
    // overlapped structure; the descriptor is released only with the last reference, so without
    // this a reopen of the same device would find it still held and fail.
    overlapped_.pending.reset();
}

bool CSerialPort::IsOpen() const {
    if (LineStandIn* line = stand_in_.load()) return line->IsOpen();
    return port_.IsOpen();
}

bool CSerialPort::Purge() {
    if (LineStandIn* line = stand_in_.load()) return line->Purge();
    int32_t code = port_.Purge();
    last_result_.store(code, std::memory_order_relaxed);
    return code == kSuccess;
}

bool CSerialPort::Reopen(int baud_rate) {
    if (!IsOpen()) return Fail(kErrorInvalidHandle);
    Close();
    return Open(port_number_, baud_rate);
}

void CSerialPort::Shutdown() {
    shut_down_.store(true);
    if (LineStandIn* line = stand_in_.load()) line->Close();
    port_.Close();
}

bool CSerialPort::Write(const void* data, uint32_t size, uint32_t* written) {
    if (LineStandIn* line = stand_in_.load()) {
        uint32_t count = 0;
        if (!line->Write(data, size, &count)) return Fail(kErrorInvalidHandle);
        if (written != nullptr) *written = count;
        last_result_.store(kSuccess, std::memory_order_relaxed);
        return true;
    }
    uint32_t count = 0;
    int32_t code = port_.Write(data, size, &count, nullptr, kInfinite);
    last_result_.store(code, std::memory_order_relaxed);
    if (code != kSuccess) return false;
    if (written != nullptr) *written = count;
    return true;
}

bool CSerialPort::Read(void* buffer, uint32_t capacity, uint32_t* received, uint32_t timeout_ms) {
    *received = 0;
    if (LineStandIn* line = stand_in_.load()) {
        if (!line->Read(buffer, capacity, received, timeout_ms)) return Fail(kErrorTimeout);
        last_result_.store(kSuccess, std::memory_order_relaxed);
        return true;
    }
    port_.SetEventMask(kEvRxChar);
    if (port_.WaitForEvent(&overlapped_, timeout_ms) != kSuccess) {
        last_result_.store(port_.GetLastResult(), std::memory_order_relaxed);
        std::printf("[CSerialPort::Read] Error WaitEvent\n");
        return false;
    }
    uint32_t wait = WaitForOverlapped(overlapped_, timeout_ms);
    if (wait != kWaitObject0) {
        // Nothing may stay pending on our own structure after we return.
        port_.CancelPendingIo();
        overlapped_.pending.reset();
        if (wait == kWaitTimeout) {
            std::printf("[CSerialPort::Read] Error Timeout. %d\n", static_cast<int>(timeout_ms));
            return Fail(kErrorTimeout);
        }
        std::printf("[CSerialPort::Read] Error not WAIT_OBJECT_0\n");
        return Fail(-1);
    }
    port_.TakeEvents();
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t total = 0;
    for (;;) {
        uint32_t count = 0;
        if (port_.Read(bytes + total, capacity - total, &count, nullptr, kInfinite) != kSuccess) {
            last_result_.store(port_.GetLastResult(), std::memory_order_relaxed);
            std::printf("[CSerialPort::Read] Error Read\n");
            return false;
        }
        total += count;
        if (count == 0 || total >= capacity) {
            *received = total;
            last_result_.store(kSuccess, std::memory_order_relaxed);
            return true;
        }
    }
}
