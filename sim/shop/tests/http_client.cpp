#include "sim/shop/tests/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "sim/shop/form.h"

namespace z31sim::test {

std::string Reply::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return "";
}

std::string Reply::Cookie(std::string_view name) const {
    std::string set = Header("Set-Cookie");
    return CookieValue(set.substr(0, set.find(';')), name);
}

Client::Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    refused_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0;
}

bool Client::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

Client::Event Client::Next(int timeout_ms) {
    pollfd pfd{fd_.get(), POLLIN, 0};
    if (::poll(&pfd, 1, timeout_ms) <= 0) return Event::kNothing;
    char chunk[65536];
    ssize_t got = ::recv(fd_.get(), chunk, sizeof chunk, 0);
    if (got <= 0) {
        reset_ = got < 0;
        return Event::kClosed;
    }
    buf_.append(chunk, static_cast<std::size_t>(got));
    return Event::kData;
}

Reply Client::Read(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        Reply reply;
        std::size_t end = buf_.find("\r\n\r\n");
        std::size_t length = 0;
        if (end != std::string::npos) {
            std::string_view head(buf_.data(), end);
            reply.status = std::atoi(buf_.c_str() + head.find(' ') + 1);
            for (std::size_t eol = head.find("\r\n"); eol != std::string_view::npos;) {
                head.remove_prefix(eol + 2);
                eol = head.find("\r\n");
                std::string_view line = head.substr(0, eol);
                std::size_t colon = line.find(':');
                reply.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                           std::string(Trim(line.substr(colon + 1))));
            }
            length = std::stoul("0" + reply.Header("Content-Length"));
            reply.body = buf_.substr(end + 4, length);
            if (reply.body.size() == length) {
                reply.complete = true;
                buf_.erase(0, end + 4 + length);
                return reply;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        Event event = Next(std::max<int>(0, static_cast<int>(left.count())));
        if (event == Event::kData) continue;
        reply.closed = event == Event::kClosed && !reset_;
        reply.reset = reset_;
        return reply;
    }
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
    if (client.refused() || !client.Send(request)) return Reply{};
    return client.Read();
}

}  // namespace z31sim::test
