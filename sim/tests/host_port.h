// The host's side of the line, opened and driven the way the host library does it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace z31sim::testing {

using std::chrono::milliseconds;

class HostPort {
public:
    HostPort() = default;
    ~HostPort() { Close(); }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    // open(O_RDWR|O_NOCTTY|O_NONBLOCK), TIOCEXCL, raw mode at `baud`, tcflush(TCIOFLUSH).
    // Returns an empty string on success, otherwise what failed.
    std::string Open(const std::string& path, int baud);
    // Releases the exclusive use (TIOCNXCL) before closing, as the host does, unless told not
    // to, as a host that crashes does not.
    void Close(bool release_exclusive = true);
    int fd() const { return fd_; }

    bool Write(std::string_view bytes);
    // Writes all of `bytes`, waiting for room on the line as a blocking write does; false when
    // the line fails or `timeout` passes first.
    bool WriteAll(std::string_view bytes, milliseconds timeout);
    // Reads until `needle` has arrived or `timeout` has passed; returns everything read.
    std::string ReadUntil(std::string_view needle, milliseconds timeout);
    // Reads for the whole of `window`.
    std::string ReadFor(milliseconds window);
    // Waits up to `timeout` for one read(2) to return something (data, end of file or an
    // error); returns its result, the data read going to `out`.
    long ReadOnce(std::string* out, milliseconds timeout);

private:
    int fd_ = -1;
};

// Checks `done` every few milliseconds until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& done, milliseconds timeout);

}  // namespace z31sim::testing
