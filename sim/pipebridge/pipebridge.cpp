// The two entry points of libPipeBridge. Each call connects a new socket to the simulated device,
// says what it wants and returns the connected socket as the descriptor. The library keeps no
// state of its own between calls: everything comes from the environment at each call.
#include "sim/pipebridge/pipebridge.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/pipebridge/bridge_protocol.h"

#define PIPEBRIDGE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Interrupted socket calls are retried this often; each retry restarts its own time bound.
constexpr int kMaxInterruptions = 3;

// A time in milliseconds from the environment; unset, malformed or out of range gives `fallback`.
// Zero is out of range: a zero socket time-out would mean waiting for ever.
int TimeoutFromEnv(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || text[0] == '\0') return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > z31pipe::kMaxTimeoutMs) return fallback;
    return static_cast<int>(value);
}

bool SetTimeout(int fd, int option, int ms) {
    const timeval tv{ms / 1000, (ms % 1000) * 1000};
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

// Closes `fd` and fails with `error`.
int Fail(int fd, int error) {
    close(fd);
    errno = error;
    return -1;
}

// A timed-out socket call reports EAGAIN; callers of open_* learn ETIMEDOUT instead.
int TimeoutAsEtimedout(int error) {
    return (error == EAGAIN || error == EWOULDBLOCK) ? ETIMEDOUT : error;
}

// Connects to the device and says `hello`. Returns the connected descriptor once the device
// answers "OK", else -1 with errno: ENOENT or ECONNREFUSED when no simulator listens, ENODEV
// when the device refuses, ETIMEDOUT when it does not answer in time, ECONNRESET when it hangs
// up without answering, ENAMETOOLONG for a socket path that does not fit.
int Greet(const char* hello) {
    const std::string path = z31pipe::SocketPath();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());

    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // While greeting both directions are bounded; a connect to a full backlog waits at most
    // SO_SNDTIMEO.
    const int open_ms = TimeoutFromEnv(z31pipe::kOpenTimeoutEnv, z31pipe::kDefaultOpenTimeoutMs);
    if (!SetTimeout(fd, SO_SNDTIMEO, open_ms) || !SetTimeout(fd, SO_RCVTIMEO, open_ms)) {
        return Fail(fd, errno);
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        return Fail(fd, TimeoutAsEtimedout(errno));
    }

    const std::size_t hello_len = std::strlen(hello);
    ssize_t sent = -1;
    for (int i = 0; i <= kMaxInterruptions; ++i) {
        sent = send(fd, hello, hello_len, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) break;
    }
    if (sent != static_cast<ssize_t>(hello_len)) return Fail(fd, TimeoutAsEtimedout(errno));

    char answer[z31pipe::kMaxControlMessage];
    ssize_t got = -1;
    for (int i = 0; i <= kMaxInterruptions; ++i) {
        got = recv(fd, answer, sizeof answer, 0);
        if (got >= 0 || errno != EINTR) break;
    }
    if (got < 0) return Fail(fd, TimeoutAsEtimedout(errno));
    if (got == 0) return Fail(fd, ECONNRESET);
    const std::size_t ok_len = std::strlen(z31pipe::kAnswerOk);
    if (static_cast<std::size_t>(got) != ok_len ||
        std::memcmp(answer, z31pipe::kAnswerOk, ok_len)) {
        return Fail(fd, ENODEV);
    }
    return fd;
}

// True when the name in the program's buffer is exactly `expected`. Reads at most the buffer's
// 32 bytes: a name with no terminator inside them matches nothing.
bool NameIs(const char* name, const char* expected) {
    std::size_t len = 0;
    while (len < z31pipe::kNameBufferSize && name[len] != '\0') ++len;
    if (len == z31pipe::kNameBufferSize) return false;
    return len == std::strlen(expected) && std::memcmp(name, expected, len) == 0;
}

}  // namespace

PIPEBRIDGE_EXPORT int open_dev(void) { return Greet(z31pipe::kHelloProbe); }

PIPEBRIDGE_EXPORT int open_file(char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const char* hello = nullptr;
    int option = 0;
    int ms = 0;
    if (NameIs(name, z31pipe::kHelloPipeOut)) {
        hello = z31pipe::kHelloPipeOut;
        option = SO_SNDTIMEO;
        ms = TimeoutFromEnv(z31pipe::kWriteTimeoutEnv, z31pipe::kDefaultWriteTimeoutMs);
    } else if (NameIs(name, z31pipe::kHelloPipeIn)) {
        hello = z31pipe::kHelloPipeIn;
        option = SO_RCVTIMEO;
        ms = TimeoutFromEnv(z31pipe::kReadTimeoutEnv, z31pipe::kDefaultReadTimeoutMs);
    } else {
        errno = EINVAL;
        return -1;
    }
    const int fd = Greet(hello);
    if (fd < 0) return -1;
    if (!SetTimeout(fd, option, ms)) return Fail(fd, errno);
    return fd;
}
