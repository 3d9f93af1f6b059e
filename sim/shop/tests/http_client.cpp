#include "sim/shop/tests/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "sim/shop/form.h"

namespace z31sim::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return ms.count() > 0 ? static_cast<int>(ms.count()) : 0;
}

// Parses the status line and headers at the front of `raw`; returns the head's length, or 0
// while it is incomplete.
std::size_t ParseHead(const std::string& raw, Reply& reply) {
    std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return 0;
    std::string_view head(raw.data(), end);
    std::size_t eol = head.find("\r\n");
    std::string_view status_line = head.substr(0, eol);
    std::size_t sp = status_line.find(' ');
    if (sp != std::string_view::npos) reply.status = std::atoi(raw.c_str() + sp + 1);
    while (eol != std::string_view::npos) {
        head.remove_prefix(eol + 2);
        eol = head.find("\r\n");
        std::string_view line = head.substr(0, eol);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        reply.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                   std::string(Trim(line.substr(colon + 1))));
    }
    return end + 4;
}

}  // namespace

std::string Reply::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return "";
}

Client::Client(int port) {
    fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        refused_ = true;
    }
}

bool Client::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

Client::Fill Client::FillOnce(int timeout_ms) {
    pollfd pfd{fd_.get(), POLLIN, 0};
    int n = ::poll(&pfd, 1, timeout_ms);
    if (n < 0 && errno == EINTR) return Fill::kTimeout;
    if (n <= 0) return Fill::kTimeout;
    char chunk[65536];
    ssize_t got = ::recv(fd_.get(), chunk, sizeof chunk, 0);
    if (got > 0) {
        buf_.append(chunk, static_cast<std::size_t>(got));
        return Fill::kData;
    }
    if (got == 0) return Fill::kClosed;
    return errno == EINTR || errno == EAGAIN ? Fill::kTimeout : Fill::kReset;
}

Reply Client::Read(int timeout_ms) {
    Reply reply;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        Reply parsed;
        std::size_t head = ParseHead(buf_, parsed);
        if (head > 0) {
            std::size_t length = std::stoul("0" + parsed.Header("Content-Length"));
            if (buf_.size() - head >= length) {
                parsed.body = buf_.substr(head, length);
                parsed.complete = true;
                buf_.erase(0, head + length);
                return parsed;
            }
        }
        Fill fill = FillOnce(MsLeft(deadline));
        if (fill == Fill::kData) continue;
        if (head > 0) {
            reply = parsed;
            reply.body = buf_.substr(head);
        }
        buf_.clear();
        reply.closed = fill == Fill::kClosed;
        reply.reset = fill == Fill::kReset;
        reply.timed_out = fill == Fill::kTimeout;
        return reply;
    }
}

bool Client::WaitClosed(int timeout_ms) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        Fill fill = FillOnce(MsLeft(deadline));
        if (fill == Fill::kClosed || fill == Fill::kReset) return true;
        if (fill == Fill::kTimeout) return false;
    }
}

bool Client::DataWithin(int timeout_ms) {
    if (!buf_.empty()) return true;
    return FillOnce(timeout_ms) == Fill::kData;
}

std::string GetRequest(std::string_view target, std::string_view extra_headers) {
    return "GET " + std::string(target) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
           std::string(extra_headers) + "\r\n";
}

std::string PostRequest(std::string_view target, std::string_view body,
                        std::string_view extra_headers) {
    return "POST " + std::string(target) +
           " HTTP/1.0\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + std::string(extra_headers) + "\r\n" +
           std::string(body);
}

Reply Fetch(int port, std::string_view request) {
    Client client(port);
    if (!client.connected() || !client.Send(request)) return Reply{};
    return client.Read();
}

std::string SetCookieValue(const Reply& reply, std::string_view name) {
    std::string cookie = reply.Header("Set-Cookie");
    std::string value = CookieValue(cookie.substr(0, cookie.find(';')), name);
    return value;
}

}  // namespace z31sim::test
