#include "sim/pty_line.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sim/baud.h"

namespace z31sim {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("z31sim: " + what + ": " + std::strerror(errno));
}

}  // namespace

PtyLine::PtyLine(std::string link_path) : link_path_(std::move(link_path)) {
    master_ = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_.valid()) Fail("cannot open a pseudo-terminal");
    if (grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0) {
        Fail("cannot unlock the pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_.get(), name, sizeof name) != 0) Fail("cannot name the pseudo-terminal");
    slave_path_ = name;
    const int flags = fcntl(master_.get(), F_GETFL);
    if (flags < 0 || fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        Fail("cannot make the pseudo-terminal non-blocking");
    }

    slave_ = UniqueFd(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!slave_.valid()) Fail("cannot open " + slave_path_);
    // Raw from the start, so nothing the device sends is echoed back or altered before the
    // host opens the port and sets its own mode.
    termios tio{};
    if (tcgetattr(slave_.get(), &tio) != 0) Fail("cannot read the mode of " + slave_path_);
    cfmakeraw(&tio);
    if (tcsetattr(slave_.get(), TCSANOW, &tio) != 0) Fail("cannot set raw mode on " + slave_path_);

    // Opened after our own slave descriptor, so the events seen are the host's only.
    watch_ = UniqueFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch_.valid() &&
        inotify_add_watch(watch_.get(), name,
                          IN_OPEN | IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        watch_.Reset();
    }

    MakeLink();
}

PtyLine::~PtyLine() { Close(); }

void PtyLine::MakeLink() {
    if (symlink(slave_path_.c_str(), link_path_.c_str()) == 0) {
        linked_ = true;
        return;
    }
    if (errno == EEXIST) {
        // A link left by a simulator that did not clean up points nowhere: take its place.
        struct stat target {};
        if (stat(link_path_.c_str(), &target) != 0 && errno == ENOENT &&
            unlink(link_path_.c_str()) == 0 &&
            symlink(slave_path_.c_str(), link_path_.c_str()) == 0) {
            linked_ = true;
            return;
        }
        errno = EEXIST;
        Fail("cannot create " + link_path_ + " (is another simulated device on that port?)");
    }
    Fail("cannot create " + link_path_);
}

void PtyLine::RemoveLink() {
    if (!linked_) return;
    linked_ = false;
    // Remove the link only while it is still ours.
    char target[256];
    const ssize_t n = readlink(link_path_.c_str(), target, sizeof target);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == slave_path_) {
        unlink(link_path_.c_str());
    }
}

int PtyLine::HostBaud() const {
    termios tio{};
    // On the master, tcgetattr reports the slave's settings, i.e. what the host set.
    if (!master_.valid() || tcgetattr(master_.get(), &tio) != 0) return 0;
    return BaudForSpeed(cfgetospeed(&tio));
}

ssize_t PtyLine::Read(char* buf, std::size_t size) {
    if (!master_.valid()) {
        errno = EBADF;
        return -1;
    }
    return read(master_.get(), buf, size);
}

std::size_t PtyLine::Write(std::string_view bytes) {
    std::size_t done = 0;
    while (master_.valid() && done < bytes.size()) {
        const ssize_t n = write(master_.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EAGAIN: the host's input queue is full
        }
    }
    return done;
}

PtyLine::HostEvents PtyLine::OnWatchEvents() {
    HostEvents events;
    if (!watch_.valid()) return events;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(watch_.get(), buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->mask & IN_OPEN) events.opened = true;
            if (ev->mask & IN_MODIFY) events.wrote_after = true;
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_Q_OVERFLOW)) {
                events.wrote_before = events.wrote_before || events.wrote_after;
                events.wrote_after = false;
                events.closed = true;
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    if (events.closed && slave_.valid()) ioctl(slave_.get(), TIOCNXCL);
    return events;
}

void PtyLine::Close() {
    RemoveLink();
    watch_.Reset();
    slave_.Reset();
    master_.Reset();
}

}  // namespace z31sim
