// CSerialPort: the port as the library uses it. Opened by COM port number and baud rate with fixed
// line settings (8 data bits, no parity, one stop bit), written whole, and read as whatever
// arrives within a time-out.
#pragma once

#include <atomic>
#include <cstdint>

#include "qvlib/serial/line_stand_in.h"
#include "qvlib/serial/serial.h"

class CSerialPort {
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool Open(int port_number, int baud_rate);
    void Close();
    // Closes and opens the same port at another baud rate; false (and closed) on failure.
    bool Reopen(int baud_rate);
    bool IsOpen() const;
    int GetPortNumber() const { return port_number_; }
    // The rate the port was last opened at (0 before the first open).
    int GetBaudRate() const { return baud_rate_; }
    int GetLastResult() const { return last_result_.load(std::memory_order_relaxed); }

    // Writes all bytes, waiting as long as the line needs.
    bool Write(const void* data, uint32_t size, uint32_t* written);
    // Waits up to the time-out for the first byte, then takes what is buffered, up to the
    // capacity, without waiting for more. The rest stays buffered for the next read.
    bool Read(void* buffer, uint32_t capacity, uint32_t* received, uint32_t timeout_ms);
    // Discards what has been received and not read yet (and what waits to be sent).
    bool Purge();

    // Closes the port for good, from any thread: I/O in flight fails at once, and later Open or
    // Reopen calls fail, so a command cannot bring the port back while its session stops.
    void Shutdown();
    // True once Shutdown has run: the port will not open again.
    bool IsShutDown() const { return shut_down_.load(); }

    serial::CSerial& Serial() { return port_; }

private:
    bool Fail(int32_t code);

    // A test's stand-in for the platform line, looked up by port number at Open; set only by Open
    // and never cleared, so Shutdown from another thread always sees the line in use.
    std::atomic<serial::LineStandIn*> stand_in_{nullptr};
    serial::CSerial port_;
    serial::Overlapped overlapped_;
    std::atomic<int32_t> last_result_{0};
    std::atomic<bool> shut_down_{false};
    int port_number_ = 0;
    int baud_rate_ = 0;
};
