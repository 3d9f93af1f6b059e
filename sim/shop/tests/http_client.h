// A tiny HTTP client on raw sockets for the shop's tests: it sends whatever bytes a test gives
// it and reports what came back, resets and early closes included.
#pragma once

#include <string>
#include <string_view>

#include "sim/shop/z31shop.h"
#include "sim/unique_fd.h"

namespace z31sim::test {

struct Reply {
    bool complete = false;  // status line, headers and the whole declared body arrived
    int status = 0;
    HeaderList headers;
    std::string body;  // what arrived of it
    bool closed = false;
    bool reset = false;

    std::string Header(std::string_view name) const;
    std::string Cookie(std::string_view name) const;  // from Set-Cookie, "" when none
};

class Client {
public:
    enum class Event { kNothing, kData, kClosed };  // kClosed: end of file or reset

    explicit Client(int port);
    bool refused() const { return refused_; }
    bool Send(std::string_view bytes);
    // Reads one response, stopping early on close, reset or after `timeout_ms`.
    Reply Read(int timeout_ms = 5000);
    // What happens next within `timeout_ms`; bytes that arrive are kept for Read.
    Event Next(int timeout_ms);

private:
    UniqueFd fd_;
    bool refused_ = false;
    bool reset_ = false;
    std::string buf_;
};

std::string GetRequest(std::string_view target, std::string_view extra_headers = "");
std::string PostRequest(std::string_view target, std::string_view body,
                        std::string_view extra_headers = "");
Reply Fetch(int port, std::string_view request);  // on a fresh connection

}  // namespace z31sim::test
