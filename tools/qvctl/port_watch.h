// Tells when serial ports may have come or gone: inotify on the port folder when one is set
// ($QVLIB_PORT_DIR, the simulator's), else udev's events for tty devices.
#pragma once

#include <string>

namespace qvctl {

class PortWatch {
public:
    // `port_dir` empty: udev. Without either, Wait only times out (the caller rescans anyway).
    explicit PortWatch(const std::string& port_dir);
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // Waits up to `timeout_ms` for a port to be added or removed: true when one was (the events
    // that came are all taken).
    bool Wait(int timeout_ms);
    // How the ports are watched: "inotify DIR", "udev", or "polling".
    const std::string& How() const { return how_; }

private:
    int fd_ = -1;
    struct Udev;
    Udev* udev_ = nullptr;
    std::string how_ = "polling";
};

}  // namespace qvctl
