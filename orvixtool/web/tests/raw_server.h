// A hostile web server for tests, on 127.0.0.1: it reads each request's head and then plays a
// script on the raw connection (send bytes, pause, reset), so that a test can cut, drip or
// flood an answer in ways a well-behaved server never would. Connections are served one after
// the other on the server's thread. Every wait is bounded and ends when the server is
// destroyed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace devod::webtest {

class RawServer {
public:
    // What the script has to work with on one connection.
    class Conn {
    public:
        // False once the peer is gone or the server stops.
        bool Send(std::string_view bytes) {
            while (!bytes.empty()) {
                if (stop_.load()) return false;
                pollfd pfd{fd_, POLLOUT, 0};
                if (::poll(&pfd, 1, 50) <= 0) continue;
                ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (n <= 0) return false;
                bytes.remove_prefix(static_cast<size_t>(n));
            }
            return true;
        }
        // False when the server stops meanwhile.
        bool Pause(int ms) {
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (std::chrono::steady_clock::now() < until) {
                if (stop_.load()) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
            }
            return !stop_.load();
        }
        // Ends the connection with a reset (RST) instead of an orderly close.
        void Reset() {
            linger lg{1, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        // Holds the connection open without sending, until the peer goes or the server stops.
        void Hold() {
            char buf[256];
            while (!stop_.load()) {
                pollfd pfd{fd_, POLLIN, 0};
                if (::poll(&pfd, 1, 50) > 0 && ::recv(fd_, buf, sizeof buf, 0) <= 0) return;
            }
        }
        const std::string& request() const { return request_; }  // its head, blank line included

    private:
        friend class RawServer;
        Conn(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
        int fd_;
        const std::atomic<bool>& stop_;
        std::string request_;
    };
    using Script = std::function<void(Conn&)>;

    explicit RawServer(Script script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~RawServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int Port() const { return port_; }
    int Connections() const { return connections_.load(); }

    // An answer's head: status 200, the given Content-Length unless it is negative.
    static std::string Head(long long length) {
        std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n";
        if (length >= 0) head += "Content-Length: " + std::to_string(length) + "\r\n";
        return head + "Connection: close\r\n\r\n";
    }

private:
    void Run() {
        while (!stop_.load()) {
            pollfd pfd{listener_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            Conn conn(fd, stop_);
            if (ReadHead(conn)) script_(conn);
            ::close(fd);
        }
    }

    // Reads up to the blank line after the headers, for at most 5 s.
    bool ReadHead(Conn& conn) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        char buf[1024];
        while (conn.request_.find("\r\n\r\n") == std::string::npos) {
            if (stop_.load() || std::chrono::steady_clock::now() > until) return false;
            pollfd pfd{conn.fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            ssize_t n = ::recv(conn.fd_, buf, sizeof buf, 0);
            if (n <= 0) return false;
            conn.request_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace devod::webtest
