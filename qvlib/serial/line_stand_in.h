// serial::LineStandIn: what CSerialPort needs from the line behind one port number, for tests that
// replace the platform line with a scripted one. A stand-in installed for a port number is used by
// every CSerialPort opened on that number from then on; without one the platform line is used.
// The product never installs one.
#pragma once

#include <cstdint>

namespace serial {

class LineStandIn {
public:
    virtual ~LineStandIn() = default;
    virtual bool Open(int baud_rate) = 0;
    // May come from another thread while a read or write runs; that read or write then fails.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual bool Write(const void* data, uint32_t size, uint32_t* written) = 0;
    virtual bool Read(void* buffer, uint32_t capacity, uint32_t* received, uint32_t timeout_ms) = 0;
    // Discards what has been received and not read yet.
    virtual bool Purge() = 0;
};

// Installs `line` for the port number (nullptr removes it). The caller keeps it alive until it
// has been removed and no CSerialPort opened on it is still in use.
void InstallLineStandIn(int port_number, LineStandIn* line);
LineStandIn* FindLineStandIn(int port_number);

}  // namespace serial
