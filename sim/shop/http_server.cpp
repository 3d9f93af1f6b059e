#include "sim/shop/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "sim/shop/form.h"

namespace z31sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 8 * 1024 * 1024;
constexpr std::size_t kMaxConns = 256;

std::runtime_error SysError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

UniqueFd BindListener(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw SysError("socket");
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw SysError("bind 127.0.0.1:" + std::to_string(port));
    }
    if (::listen(fd.get(), 64) != 0) throw SysError("listen");
    return fd;
}

int LocalPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw SysError("getsockname");
    }
    return ntohs(addr.sin_port);
}

enum class Parse { kIncomplete, kOk, kBad, kTooLarge };

// Takes one complete request off the front of `in`.
Parse ParseRequest(std::string& in, HttpRequest& req) {
    req = HttpRequest{};
    std::size_t pos = 0;
    bool first = true;
    for (;;) {
        std::size_t nl = in.find('\n', pos);
        if (nl == std::string::npos)
            return in.size() > kMaxHead ? Parse::kTooLarge : Parse::kIncomplete;
        std::string_view line(in.data() + pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = nl + 1;
        if (pos > kMaxHead) return Parse::kTooLarge;
        if (first) {
            if (line.empty()) continue;  // stray blank line between requests
            std::size_t s1 = line.find(' ');
            std::size_t s2 = line.rfind(' ');
            if (s1 == std::string_view::npos || s1 == s2) return Parse::kBad;
            req.method = std::string(line.substr(0, s1));
            req.target = std::string(Trim(line.substr(s1 + 1, s2 - s1 - 1)));
            req.version = std::string(line.substr(s2 + 1));
            if (req.method.empty() || req.target.empty() || !req.version.starts_with("HTTP/")) {
                return Parse::kBad;
            }
            first = false;
            continue;
        }
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return Parse::kBad;
        req.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                 std::string(Trim(line.substr(colon + 1))));
    }
    if (!req.Header("Transfer-Encoding").empty()) return Parse::kBad;
    std::size_t length = 0;
    std::string cl = req.Header("Content-Length");
    if (!cl.empty()) {
        if (cl.size() > 9 || cl.find_first_not_of("0123456789") != std::string::npos) {
            return Parse::kBad;
        }
        length = std::stoul(cl);
        if (length > kMaxBody) return Parse::kTooLarge;
    }
    if (in.size() - pos < length) return Parse::kIncomplete;
    req.body = in.substr(pos, length);
    in.erase(0, pos + length);
    return Parse::kOk;
}

HttpResponse ErrorPage(int status) {
    HttpResponse resp;
    resp.status = status;
    resp.body = "<html><body><h1>" + std::to_string(status) + " " + ReasonPhrase(status) +
                "</h1></body></html>\n";
    return resp;
}

}  // namespace

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 413: return "Payload Too Large";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return "";
}

bool HttpRequest::KeepAlive() const {
    std::string connection = Header("Connection");
    if (version == "HTTP/1.0") return HasToken(connection, "keep-alive");
    return !HasToken(connection, "close");
}

struct HttpServer::Conn {
    enum class State { kReading, kDelaying, kStalled, kWriting, kDripping };
    UniqueFd fd;
    State state = State::kReading;
    std::string in;
    std::string out;
    std::size_t sent = 0;
    bool keep_alive = false;
    bool close_after = false;
    bool dead = false;
    int drip_ms = 0;       // the answer goes out one byte every drip_ms (kDripping between bytes)
    bool endless = false;  // the body is refilled whenever it has gone out
    HttpRequest req;       // the request being answered
    HttpResponse resp;     // held while delaying
    Clock::time_point due;
};

HttpServer::HttpServer(int port, Handler handler, StallCheck stall_check)
    : handler_(std::move(handler)), stall_check_(std::move(stall_check)) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw SysError("pipe");
    wake_read_ = UniqueFd(fds[0]);
    wake_write_ = UniqueFd(fds[1]);
    listener_ = BindListener(port);
    port_ = LocalPort(listener_.get());
    thread_ = std::thread([this] { Run(); });
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    Wake();
    thread_.join();
}

void HttpServer::Wake() {
    char c = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = ::write(wake_write_.get(), &c, 1);
}

bool HttpServer::IsListening() const {
    std::lock_guard lock(mu_);
    return want_listening_;
}

void HttpServer::SetListening(bool on) {
    std::lock_guard serial(listen_mu_);
    UniqueFd fresh;
    {
        std::lock_guard lock(mu_);
        if (want_listening_ == on) return;
    }
    if (on) fresh = BindListener(port_);
    std::unique_lock lock(mu_);
    want_listening_ = on;
    new_listener_ = std::move(fresh);
    unsigned ticket = ++requested_;
    Wake();
    cv_.wait(lock, [&] { return applied_ >= ticket || stop_; });
}

void HttpServer::Run() {
    std::vector<std::unique_ptr<Conn>> conns;

    auto write_out = [](Conn& c) {
        // An endless body is refilled this often per call at most, so that one connection
        // cannot hold the thread while its reader keeps up.
        int refills = 64;
        while (c.sent < c.out.size() || (c.endless && refills-- > 0)) {
            if (c.sent == c.out.size()) {
                c.out.assign(16384, 'x');
                c.sent = 0;
            }
            const std::size_t piece = c.drip_ms > 0 ? 1 : c.out.size() - c.sent;
            ssize_t n = ::send(c.fd.get(), c.out.data() + c.sent, piece, MSG_NOSIGNAL);
            if (n > 0) {
                c.sent += static_cast<std::size_t>(n);
                if (c.drip_ms > 0 && c.sent < c.out.size()) {
                    c.state = Conn::State::kDripping;
                    c.due = Clock::now() + std::chrono::milliseconds(c.drip_ms);
                    return;
                }
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                c.dead = true;
                return;
            }
        }
        if (c.endless) return;  // waits for room again
        c.out.clear();
        c.sent = 0;
        if (c.close_after) {
            ::shutdown(c.fd.get(), SHUT_WR);
            c.dead = true;
        } else {
            c.state = Conn::State::kReading;
        }
    };

    auto dispatch = [&](Conn& c, const HttpResponse& resp) {
        if (resp.reset) {
            linger lg{1, 0};
            ::setsockopt(c.fd.get(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
            c.fd.Reset();
            c.dead = true;
            return;
        }
        std::string body = resp.body;
        if (resp.truncate_at && *resp.truncate_at < body.size()) body.resize(*resp.truncate_at);
        c.close_after = !c.keep_alive || resp.truncate_at.has_value() || resp.endless;
        c.drip_ms = resp.drip_ms;
        c.endless = resp.endless;
        c.out = "HTTP/1.0 " + std::to_string(resp.status) + " " + ReasonPhrase(resp.status) +
                "\r\nContent-Type: " + resp.content_type + "\r\n";
        if (!resp.endless) c.out += "Content-Length: " + std::to_string(resp.body.size()) + "\r\n";
        for (const auto& [name, value] : resp.extra_headers) c.out += name + ": " + value + "\r\n";
        c.out += c.close_after ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
        c.out += body;
        c.sent = 0;
        c.state = Conn::State::kWriting;
    };

    // Moves one connection on as far as it can go without waiting.
    auto advance = [&](Conn& c) {
        while (!c.dead) {
            if (c.state == Conn::State::kWriting) {
                write_out(c);
                if (c.state == Conn::State::kWriting) return;
                continue;
            }
            if (c.state != Conn::State::kReading) return;
            HttpRequest req;
            Parse p = ParseRequest(c.in, req);
            if (p == Parse::kIncomplete) return;
            if (p != Parse::kOk) {
                c.keep_alive = false;
                c.in.clear();
                dispatch(c, ErrorPage(p == Parse::kBad ? 400 : 413));
                continue;
            }
            c.keep_alive = req.KeepAlive();
            HttpResponse resp;
            try {
                resp = handler_(req);
            } catch (const std::exception&) {
                resp = ErrorPage(500);
            }
            if (resp.stall) {
                c.state = Conn::State::kStalled;
                c.req = std::move(req);
            } else if (resp.delay_ms > 0) {
                c.state = Conn::State::kDelaying;
                c.due = Clock::now() + std::chrono::milliseconds(resp.delay_ms);
                c.resp = std::move(resp);
            } else {
                dispatch(c, resp);
            }
        }
    };

    auto read_in = [](Conn& c) {
        char buf[16384];
        for (;;) {
            ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
            if (n > 0) {
                if (c.state == Conn::State::kStalled) continue;  // nobody will read it
                c.in.append(buf, static_cast<std::size_t>(n));
                if (c.in.size() > kMaxHead + kMaxBody + sizeof buf) c.dead = true;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                c.dead = true;  // the peer closed or the connection broke
                return;
            }
        }
    };

    std::vector<pollfd> pfds;
    for (;;) {
        bool drop_all = false;
        {
            std::lock_guard lock(mu_);
            if (stop_) break;
            if (new_listener_.valid()) listener_ = std::move(new_listener_);
            if (!want_listening_ && listener_.valid()) {
                listener_.Reset();
                drop_all = true;
            }
            if (applied_ != requested_) {
                applied_ = requested_;
                cv_.notify_all();
            }
        }
        if (drop_all) {
            for (auto& c : conns) c->dead = true;
        }
        std::size_t before = conns.size();
        std::erase_if(conns, [](const std::unique_ptr<Conn>& c) { return c->dead; });
        open_ -= before - conns.size();

        int timeout = -1;
        Clock::time_point now = Clock::now();
        pfds.clear();
        pfds.push_back({wake_read_.get(), POLLIN, 0});
        pfds.push_back({listener_.valid() ? listener_.get() : -1, POLLIN, 0});
        for (auto& c : conns) {
            short events = c->state == Conn::State::kWriting    ? POLLOUT
                           : c->state == Conn::State::kDripping ? 0
                                                                : POLLIN;
            pfds.push_back({c->fd.get(), events, 0});
            if (c->state == Conn::State::kDelaying || c->state == Conn::State::kDripping) {
                auto ms = std::chrono::ceil<std::chrono::milliseconds>(c->due - now).count();
                ms = std::max<decltype(ms)>(ms, 0);
                if (timeout < 0 || ms < timeout) timeout = static_cast<int>(ms);
            }
        }
        int n = ::poll(pfds.data(), pfds.size(), timeout);
        if (n < 0 && errno != EINTR) break;

        bool woken = false;
        if (pfds[0].revents & POLLIN) {
            char buf[64];
            while (::read(wake_read_.get(), buf, sizeof buf) > 0) {
            }
            woken = true;
        }
        std::size_t polled = conns.size();
        for (std::size_t i = 0; i < polled; ++i) {
            Conn& c = *conns[i];
            if (c.dead || pfds[i + 2].revents == 0) continue;
            if (c.state == Conn::State::kWriting) {
                advance(c);
            } else {
                read_in(c);
                advance(c);
            }
        }
        now = Clock::now();
        for (auto& c : conns) {
            if (!c->dead && c->state == Conn::State::kDelaying && c->due <= now) {
                dispatch(*c, c->resp);
                c->resp = HttpResponse{};
                advance(*c);
            }
            if (!c->dead && c->state == Conn::State::kDripping && c->due <= now) {
                c->state = Conn::State::kWriting;
                advance(*c);
            }
            if (woken && !c->dead && c->state == Conn::State::kStalled && !stall_check_(c->req)) {
                c->dead = true;
            }
        }
        if (pfds[1].revents & POLLIN) {
            for (;;) {
                int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                ++accepted_;
                if (conns.size() >= kMaxConns) {
                    ::close(fd);
                    continue;
                }
                int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                auto c = std::make_unique<Conn>();
                c->fd = UniqueFd(fd);
                conns.push_back(std::move(c));
                ++open_;
            }
        }
    }
    open_ = 0;
    std::lock_guard lock(mu_);
    stop_ = true;  // also when poll failed: nobody may wait for this thread any more
    cv_.notify_all();
}

}  // namespace z31sim
