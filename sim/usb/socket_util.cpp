#include "sim/usb/socket_util.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace z31sim::usb {
namespace {

// Pending connections beyond this are refused by the kernel until the thread accepts them.
constexpr int kBacklog = 16;

std::runtime_error SystemError(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        throw std::runtime_error("socket path is empty or longer than " +
                                 std::to_string(sizeof addr.sun_path - 1) + " bytes: " + path);
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    return addr;
}

// True when something accepts connections at `addr`. A full backlog counts as alive.
bool SomeoneListens(const sockaddr_un& addr) {
    Fd probe(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!probe.valid()) return false;
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        return true;
    }
    return errno == EAGAIN;
}

// Clears the way for a new socket file at `path`, or throws.
void ReplaceStale(const std::string& path, const sockaddr_un& addr) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return;
        throw SystemError("cannot stat " + path, errno);
    }
    if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
    if (SomeoneListens(addr)) throw std::runtime_error("another simulator listens on " + path);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw SystemError("cannot remove stale socket " + path, errno);
    }
}

}  // namespace

Fd ListenAt(const std::string& path, FileId* id) {
    const sockaddr_un addr = AddressOf(path);
    ReplaceStale(path, addr);
    Fd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw SystemError("socket", errno);
    if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        throw SystemError("cannot bind " + path, errno);
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) throw SystemError("cannot stat " + path, errno);
    *id = FileId{st.st_dev, st.st_ino};
    if (listen(fd.get(), kBacklog) != 0) {
        const int error = errno;
        RemoveIfSame(path, *id);
        throw SystemError("cannot listen on " + path, error);
    }
    return fd;
}

void RemoveIfSame(const std::string& path, const FileId& id) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && st.st_dev == id.dev && st.st_ino == id.ino) {
        unlink(path.c_str());
    }
}

bool PeerGone(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    if (poll(&p, 1, 0) != 1) return false;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

SendResult SendTransfer(int fd, std::span<const std::uint8_t> transfer) {
    for (;;) {
        const ssize_t n = send(fd, transfer.data(), transfer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return SendResult::kSent;
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? SendResult::kFull : SendResult::kGone;
    }
}

}  // namespace z31sim::usb
