// One short exchange with the device over USB, for the settings page's reads and writes: it holds
// PipeBridge for the exchange, probes the device, opens the two pipes, writes a frame and reads a
// reply with a bound on the wait. Everything it opened is closed when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "orvixtool/devicelink/pipe_bridge.h"

namespace devod {

class UsbExchange {
public:
    // How long a read waits for the device's first byte before it fails, so that a device that
    // stops answering cannot freeze the tool.
    static constexpr int kDefaultReplyTimeoutMs = 5000;

    // Loads PipeBridge.
    UsbExchange();
    ~UsbExchange();
    UsbExchange(const UsbExchange&) = delete;
    UsbExchange& operator=(const UsbExchange&) = delete;

    // False when the library or one of its functions is missing.
    bool Loaded() const;
    // Probes for the device (when asked) and opens PIPE00 and, when asked, PIPE01. False as soon
    // as one step fails; what was opened stays open until Close.
    bool Open(bool probe, bool open_input);
    // Writes the whole frame to PIPE00; a short write fails.
    bool Send(std::span<const uint8_t> frame);
    // One read of up to buffer.size() bytes from PIPE01, waiting at most the reply timeout for
    // the device to start answering. errno tells why it failed.
    bool Receive(std::span<uint8_t> buffer, size_t* received);
    // Closes the pipes and releases PipeBridge.
    void Close();

    // For tests of a device that stops answering; not thread-safe.
    static void SetReplyTimeoutMs(int timeout_ms);

private:
    std::unique_ptr<PipeBridge> bridge_;
    UniquePipe out_;
    UniquePipe in_;
};

}  // namespace devod
