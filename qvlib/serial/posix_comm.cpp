// The POSIX port: opening, exclusive use, raw mode, device control settings on termios.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "qvlib/serial/posix_handle.h"
#include "qvlib/serial/win_codes.h"

namespace serial::platform {
namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool BaudToCode(uint32_t rate, speed_t* code) {
    for (const auto& e : kBauds) {
        if (e.rate == rate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

uint32_t CodeToBaud(speed_t code) {
    for (const auto& e : kBauds) {
        if (e.code == code) return e.rate;
    }
    return 0;
}

// A Windows communications handle is raw whatever else is set: no echo, no line editing, no
// CR/LF translation, no signal characters, reads return as soon as one byte is there.
void MakeRaw(termios* t) {
    cfmakeraw(t);
    t->c_cflag |= CLOCAL | CREAD;
    t->c_cc[VMIN] = 1;
    t->c_cc[VTIME] = 0;
}

CommState StateFromTermios(const termios& t) {
    CommState s;
    s.baud_rate = CodeToBaud(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: s.byte_size = 5; break;
        case CS6: s.byte_size = 6; break;
        case CS7: s.byte_size = 7; break;
        default: s.byte_size = 8; break;
    }
    if (t.c_cflag & PARENB) {
        bool odd = (t.c_cflag & PARODD) != 0;
        s.parity = (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    s.parity_check = (t.c_iflag & INPCK) != 0;
    s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 0;
    bool rtscts = (t.c_cflag & CRTSCTS) != 0;
    s.out_cts_flow = rtscts;
    s.rts_control = rtscts ? kRtsControlHandshake : 1;
    s.out_x = (t.c_iflag & IXON) != 0;
    s.in_x = (t.c_iflag & IXOFF) != 0;
    return s;
}

int32_t ApplyState(int fd, const CommState& s) {
    speed_t speed;
    if (!BaudToCode(s.baud_rate, &speed) || s.byte_size < 5 || s.byte_size > 8 || s.parity > 4 ||
        s.stop_bits > 2) {
        return kErrorInvalidParameter;
    }
    termios t;
    if (tcgetattr(fd, &t) != 0) return LastErrorCode();
    MakeRaw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[s.byte_size - 5];
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    if (s.parity != 0) t.c_cflag |= PARENB;
    if (s.parity == 1 || s.parity == 3) t.c_cflag |= PARODD;
    if (s.parity >= 3) t.c_cflag |= CMSPAR;
    if (s.parity_check) t.c_iflag |= INPCK;
    // One and a half stop bits has no termios form; two is the nearest.
    if (s.stop_bits != 0) t.c_cflag |= CSTOPB;
    // termios has one hardware handshake covering both RTS and CTS; DSR/DTR handshakes have none.
    if (s.out_cts_flow || s.rts_control == kRtsControlHandshake) t.c_cflag |= CRTSCTS;
    if (s.out_x) t.c_iflag |= IXON;
    if (s.in_x) t.c_iflag |= IXOFF;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return LastErrorCode();
    return kSuccess;
}

}  // namespace

CommHandle::~CommHandle() {
    ioctl(fd, TIOCNXCL);  // the terminal may outlive us (a simulator keeps it open)
    close(fd);
    close(wake_fd);
}

int32_t OpenComm(const std::string& device_name, bool overlapped, HandlePtr* out) {
    out->reset();
    int fd = open(device_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return LastErrorCode();
    auto fail = [fd](int32_t code) {
        close(fd);
        return code;
    };
    termios t;
    if (tcgetattr(fd, &t) != 0) return fail(LastErrorCode());
    // No sharing: TIOCEXCL refuses later opens of the terminal, but not to root, and there is a
    // window between open and ioctl; the advisory lock closes both gaps between our processes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? kErrorAccessDenied : LastErrorCode());
    }
    if (ioctl(fd, TIOCEXCL) != 0) return fail(LastErrorCode());
    MakeRaw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        int32_t code = LastErrorCode();
        ioctl(fd, TIOCNXCL);
        return fail(code);
    }
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        int32_t code = LastErrorCode();
        ioctl(fd, TIOCNXCL);
        return fail(code);
    }
    auto handle = std::make_shared<CommHandle>(fd, wake, overlapped);
    handle->state = StateFromTermios(t);
    *out = std::move(handle);
    return kSuccess;
}

void CloseComm(const HandlePtr& handle) {
    if (!handle || handle->closed.exchange(true)) return;
    eventfd_t one = 1;
    [[maybe_unused]] ssize_t n = write(handle->wake_fd, &one, sizeof one);
}

bool IsOverlapped(const CommHandle& handle) { return handle.overlapped; }

int32_t SetupComm(CommHandle& handle, uint32_t in_queue, uint32_t out_queue) {
    // The terminal driver's queues have fixed sizes; the request is accepted and has no effect.
    (void)in_queue;
    (void)out_queue;
    return handle.closed ? kErrorInvalidHandle : kSuccess;
}

int32_t GetCommState(CommHandle& handle, CommState* state) {
    if (handle.closed) return kErrorInvalidHandle;
    std::lock_guard lock(handle.mutex);
    *state = handle.state;
    return kSuccess;
}

int32_t SetCommState(CommHandle& handle, const CommState& state) {
    if (handle.closed) return kErrorInvalidHandle;
    std::lock_guard lock(handle.mutex);
    int32_t code = ApplyState(handle.fd, state);
    if (code == kSuccess) handle.state = state;
    return code;
}

int32_t GetCommTimeouts(CommHandle& handle, CommTimeouts* timeouts) {
    if (handle.closed) return kErrorInvalidHandle;
    std::lock_guard lock(handle.mutex);
    *timeouts = handle.timeouts;
    return kSuccess;
}

int32_t SetCommTimeouts(CommHandle& handle, const CommTimeouts& timeouts) {
    if (handle.closed) return kErrorInvalidHandle;
    std::lock_guard lock(handle.mutex);
    handle.timeouts = timeouts;
    return kSuccess;
}

int32_t SetCommMask(CommHandle& handle, uint32_t mask) {
    if (handle.closed) return kErrorInvalidHandle;
    std::lock_guard lock(handle.mutex);
    handle.event_mask = mask;
    return kSuccess;
}

int32_t PurgeComm(CommHandle& handle) {
    if (handle.closed) return kErrorInvalidHandle;
    // Only what this handle sent is its own to discard: bytes another handle left unread on a
    // pseudo-terminal were already on the line, as a real port's close waits until they are.
    const int queues = handle.wrote.load(std::memory_order_relaxed) ? TCIOFLUSH : TCIFLUSH;
    return tcflush(handle.fd, queues) == 0 ? kSuccess : LastErrorCode();
}

int32_t CancelIo(CommHandle& handle) {
    handle.cancel_generation.fetch_add(1);
    return kSuccess;
}

int32_t GetDefaultCommConfig(const std::string& device_name, CommConfig* config) {
    // Terminals have no system-wide default configuration; reporting none makes Open leave the
    // device's current settings in place, which is all its callers rely on.
    (void)device_name;
    (void)config;
    return kErrorNotSupported;
}

int32_t SetCommConfig(CommHandle& handle, const CommConfig& config) {
    return SetCommState(handle, config.state);
}

}  // namespace serial::platform
