#include "port_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#if QVCTL_HAVE_UDEV
#include <libudev.h>
#endif

namespace qvctl {

struct PortWatch::Udev {
#if QVCTL_HAVE_UDEV
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
#endif
};

PortWatch::PortWatch(const std::string& port_dir) {
    if (!port_dir.empty()) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 &&
            inotify_add_watch(fd_, port_dir.c_str(),
                              IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
            close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0) how_ = "inotify " + port_dir;
        return;
    }
#if QVCTL_HAVE_UDEV
    auto* u = new Udev;
    u->context = udev_new();
    if (u->context != nullptr) u->monitor = udev_monitor_new_from_netlink(u->context, "udev");
    if (u->monitor != nullptr &&
        udev_monitor_filter_add_match_subsystem_devtype(u->monitor, "tty", nullptr) >= 0 &&
        udev_monitor_enable_receiving(u->monitor) >= 0) {
        fd_ = udev_monitor_get_fd(u->monitor);
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);  // take what came, never wait
        how_ = "udev";
        udev_ = u;
        return;
    }
    if (u->monitor != nullptr) udev_monitor_unref(u->monitor);
    if (u->context != nullptr) udev_unref(u->context);
    delete u;
#endif
}

PortWatch::~PortWatch() {
#if QVCTL_HAVE_UDEV
    if (udev_ != nullptr) {
        udev_monitor_unref(udev_->monitor);
        udev_unref(udev_->context);
        delete udev_;
        return;  // the monitor owned the descriptor
    }
#endif
    if (fd_ >= 0) close(fd_);
}

bool PortWatch::Wait(int timeout_ms) {
    if (fd_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    bool changed = false;
#if QVCTL_HAVE_UDEV
    if (udev_ != nullptr) {
        while (udev_device* device = udev_monitor_receive_device(udev_->monitor)) {
            const char* action = udev_device_get_action(device);
            if (action != nullptr &&
                (std::string(action) == "add" || std::string(action) == "remove")) {
                changed = true;
            }
            udev_device_unref(device);
        }
        return changed;
    }
#endif
    alignas(inotify_event) char buffer[4096];
    while (read(fd_, buffer, sizeof buffer) > 0) changed = true;
    return changed;
}

}  // namespace qvctl
