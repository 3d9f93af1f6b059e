// A tiny HTTP client on raw sockets for the shop's tests: it sends whatever bytes a test gives
// it and reports exactly what came back, including resets and early closes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/shop/z31shop.h"
#include "sim/unique_fd.h"

namespace z31sim::test {

struct Reply {
    bool complete = false;  // status line, headers and the whole declared body arrived
    int status = 0;
    HeaderList headers;
    std::string body;       // what arrived of it
    bool closed = false;    // the shop closed the connection (end of file)
    bool reset = false;     // the connection was reset
    bool timed_out = false;

    std::string Header(std::string_view name) const;
};

class Client {
  public:
    explicit Client(int port);  // check connected()
    bool connected() const { return fd_.valid() && !refused_; }
    bool refused() const { return refused_; }

    bool Send(std::string_view bytes);
    // Reads one response; stops early on close, reset or after `timeout_ms`.
    Reply Read(int timeout_ms = 5000);
    // Waits for the connection to end: true when it did (close or reset) within `timeout_ms`,
    // false when it stayed open (any bytes that arrive meanwhile are kept for Read).
    bool WaitClosed(int timeout_ms);
    // Whether any byte arrives within `timeout_ms`.
    bool DataWithin(int timeout_ms);

  private:
    enum class Fill { kData, kClosed, kReset, kTimeout };
    Fill FillOnce(int timeout_ms);

    UniqueFd fd_;
    bool refused_ = false;
    std::string buf_;
};

std::string GetRequest(std::string_view target, std::string_view extra_headers = "");
std::string PostRequest(std::string_view target, std::string_view body,
                        std::string_view extra_headers = "");
// One request on a fresh connection.
Reply Fetch(int port, std::string_view request);

// The value of `name` in the first "Set-Cookie: name=value; ..." header, "" when none.
std::string SetCookieValue(const Reply& reply, std::string_view name);

}  // namespace z31sim::test
