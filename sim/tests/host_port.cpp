#include "sim/tests/host_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/baud.h"

namespace z31sim::testing {

using Clock = std::chrono::steady_clock;

std::string HostPort::Open(const std::string& path, int baud) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return "open " + path + ": " + std::strerror(errno);
    termios tio{};
    const auto speed = SpeedForBaud(baud);
    if (!speed) return "bad baud";
    if (ioctl(fd_, TIOCEXCL) != 0 || tcgetattr(fd_, &tio) != 0) return std::strerror(errno);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    // Input only: what an earlier handle sent is already on its way, as on a real port.
    if (tcsetattr(fd_, TCSANOW, &tio) != 0 || tcflush(fd_, TCIFLUSH) != 0) {
        return std::strerror(errno);
    }
    return "";
}

void HostPort::Close(bool release_exclusive) {
    if (fd_ < 0) return;
    if (release_exclusive) ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
}

bool HostPort::Write(std::string_view bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool HostPort::WriteAll(std::string_view bytes, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        const ssize_t n = write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
    return true;
}

long HostPort::ReadOnce(std::string* out, milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        errno = ETIMEDOUT;
        return -1;
    }
    char buf[4096];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0 && out != nullptr) out->append(buf, static_cast<std::size_t>(n));
    return n;
}

std::string HostPort::ReadUntil(std::string_view needle, milliseconds timeout) {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    while (got.find(needle) == std::string::npos) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || ReadOnce(&got, left) <= 0) break;
    }
    return got;
}

std::string HostPort::ReadFor(milliseconds window) {
    std::string got;
    const auto deadline = Clock::now() + window;
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        const long n = ReadOnce(&got, left);
        if (n == 0 || (n < 0 && errno != ETIMEDOUT && errno != EAGAIN)) break;  // hung up
    }
    return got;
}

bool WaitFor(const std::function<bool()>& done, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

}  // namespace z31sim::testing
