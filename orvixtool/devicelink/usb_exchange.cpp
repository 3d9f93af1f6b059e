#include "orvixtool/devicelink/usb_exchange.h"

#include <poll.h>

#include <cerrno>

namespace devod {
namespace {

int g_reply_timeout_ms = UsbExchange::kDefaultReplyTimeoutMs;

// Waits until the handle has something to read (data, end of file or an error, all of which the
// read then reports). False with errno set on a time-out or a failed wait.
bool WaitReadable(OsHandle handle) {
    pollfd entry{handle, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, g_reply_timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) errno = ETIMEDOUT;
    return ready > 0;
}

}  // namespace

void UsbExchange::SetReplyTimeoutMs(int timeout_ms) { g_reply_timeout_ms = timeout_ms; }

UsbExchange::UsbExchange() : bridge_(std::make_unique<PipeBridge>()) {}

UsbExchange::~UsbExchange() { Close(); }

bool UsbExchange::Loaded() const { return bridge_ && bridge_->IsLoaded(); }

bool UsbExchange::Open(bool probe, bool open_input) {
    if (!Loaded()) return false;
    if (probe && !bridge_->Probe()) return false;
    out_.reset(bridge_->OpenFile(kPipeOut));
    if (!out_) return false;
    if (open_input) {
        in_.reset(bridge_->OpenFile(kPipeIn));
        if (!in_) return false;
    }
    return true;
}

bool UsbExchange::Send(std::span<const uint8_t> frame) {
    size_t written = 0;
    if (!WriteFile(out_.get(), frame.data(), frame.size(), &written)) return false;
    if (written != frame.size()) {
        errno = EIO;
        return false;
    }
    return true;
}

bool UsbExchange::Receive(std::span<uint8_t> buffer, size_t* received) {
    *received = 0;
    if (!in_) {
        errno = EBADF;
        return false;
    }
    if (!WaitReadable(in_.get())) return false;
    return ReadFile(in_.get(), buffer.data(), buffer.size(), received);
}

void UsbExchange::Close() {
    out_.reset();
    in_.reset();
    bridge_.reset();
}

}  // namespace devod
