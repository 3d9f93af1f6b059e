#include "orvixtool/ftp/ftp_sock_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>

namespace devod {

namespace {

// A reply (all its lines together) longer than this is taken as a broken or hostile server.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

const char kFail[] = "FAIL";

// A negative time-out would make poll wait for ever; the default is used instead.
int EffectiveTimeout(int ms) { return ms < 0 ? CFtpSockClient::kDefaultTimeoutMs : ms; }

// Waits for `events` on fd for at most timeout_ms, resuming after signals with the time left.
// True when one of the events (or an error or hang-up, which the following call reports) came.
bool WaitFor(int fd, short events, int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{fd, events, 0};
        const int rc = poll(&pfd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool EndsWithCrLf(const std::string& s) {
    return s.size() >= 2 && s[s.size() - 2] == '\r' && s[s.size() - 1] == '\n';
}

// The value of the reply's three-digit code; 0 when the first three characters are not digits.
int ParseCode(const std::string& reply) {
    if (reply.size() < 3) return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const char c = reply[i];
        if (c < '0' || c > '9') return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

}  // namespace

CFtpSockClient::~CFtpSockClient() { CloseSocket(); }

void CFtpSockClient::CloseSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool CFtpSockClient::Connect(const std::string& host, int port) {
    CloseSocket();
    connected_ = 0;
    if (host.empty() || port <= 0 || port > 65535) return false;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        return false;
    }

    const int timeout = EffectiveTimeout(timeout_ms_);
    bool made_socket = false;
    for (addrinfo* ai = found; ai && !connected_; ai = ai->ai_next) {
        CloseSocket();
        fd_ = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                       ai->ai_protocol);
        if (fd_ < 0) continue;
        made_socket = true;
        // Non-blocking from here on: the connect and every later send and receive wait in poll,
        // so each is bounded by the time-out.
        int rc;
        do {
            rc = ::connect(fd_, ai->ai_addr, ai->ai_addrlen);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0) {
            connected_ = 1;
        } else if (errno == EINPROGRESS && WaitFor(fd_, POLLOUT, timeout)) {
            int err = 0;
            socklen_t len = sizeof(err);
            if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) connected_ = 1;
        }
    }
    freeaddrinfo(found);

    if (!made_socket) {
        reply_code_ = kCodeNoSocket;
        return false;
    }
    if (!connected_) return false;

    ReadReply();
    if (reply_code_ != 220) connected_ = 0;
    return connected_ != 0;
}

bool CFtpSockClient::SendCommand(const std::string& command) {
    if (fd_ < 0 || !connected_) return true;
    if (command.empty()) return false;

    std::string line = command;
    if (!EndsWithCrLf(line)) line += "\r\n";

    const int timeout = EffectiveTimeout(timeout_ms_);
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The buffer is full: wait for room, and give up when the peer takes nothing for a whole
        // time-out.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd_, POLLOUT, timeout)) {
            continue;
        }
        connected_ = 0;
        CloseSocket();
        return false;
    }
    return true;
}

std::string CFtpSockClient::ReadReply() {
    if (fd_ < 0 || !connected_) return kFail;

    const int timeout = EffectiveTimeout(timeout_ms_);
    // Each receive waits at most the time-out, and the whole reply at most three of them, so a
    // server that drips a byte now and then cannot hold the caller either.
    using Clock = std::chrono::steady_clock;
    const auto reply_deadline = Clock::now() + 3 * std::chrono::milliseconds(timeout);
    const auto wait_ms = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(reply_deadline - Clock::now());
        return static_cast<int>(std::min<long long>(timeout, std::max<long long>(0, left.count())));
    };
    std::string reply;
    std::string line;
    bool ok = true;
    for (;;) {
        char c = 0;
        const ssize_t n = ::recv(fd_, &c, 1, 0);
        if (n == 1) {
            line += c;
            if (reply.size() + line.size() > kMaxReplyBytes) {
                ok = false;
                break;
            }
            if (!EndsWithCrLf(line)) continue;
            if (line.size() - 2 < 3) {  // no room for a code
                ok = false;
                break;
            }
            reply += line;
            const bool last = line.size() >= 4 && line[3] == ' ';
            line.clear();
            if (last) break;
            continue;
        }
        if (n == 0) {  // closed by the server before the reply ended
            ok = false;
            break;
        }
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_ms() > 0 &&
            WaitFor(fd_, POLLIN, wait_ms())) {
            continue;
        }
        ok = false;  // a receive error, or nothing arrived within the time-out
        break;
    }

    if (!ok) {
        reply_code_ = 0;
        last_reply_ = kFail;
        connected_ = 0;
        CloseSocket();
        return kFail;
    }
    reply_code_ = ParseCode(reply);
    last_reply_ = reply;
    return last_reply_;
}

bool CFtpSockClient::Login(const std::string& user, const std::string& password) {
    if (!SendCommand("USER " + user)) return false;
    if (ReadReply() == kFail || reply_code_ != 331) return false;
    if (!SendCommand("PASS " + password)) return false;
    return ReadReply() != kFail && reply_code_ == 230;
}

bool CFtpSockClient::Quit() {
    if (fd_ < 0) return false;
    if (!connected_) return true;
    if (!SendCommand("QUIT")) return false;
    if (ReadReply() == kFail || reply_code_ != 221) return false;
    CloseSocket();
    return true;
}

}  // namespace devod
