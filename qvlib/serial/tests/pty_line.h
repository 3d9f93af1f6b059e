// A bare line for serial tests: a pseudo-terminal whose slave appears as com<N> in a temporary
// port folder (QVLIB_PORT_DIR), and whose master side the test reads and writes as "the device".
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

class PtyLine {
public:
    explicit PtyLine(int port = 7) : port_(port) {
        char dir_template[] = "/tmp/qvports-XXXXXX";
        if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = dir_template;
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slave_path_ = ptsname(master_);
        // Keep the slave open so the master never sees a hang-up between host opens.
        slave_keep_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
        termios t;
        tcgetattr(slave_keep_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_keep_, TCSANOW, &t);
        std::filesystem::create_symlink(slave_path_, path());
        setenv("QVLIB_PORT_DIR", dir_.c_str(), 1);
    }
    ~PtyLine() {
        HangUp();
        if (slave_keep_ >= 0) close(slave_keep_);
        std::filesystem::remove_all(dir_);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    int port() const { return port_; }
    std::string path() const { return dir_ + "/com" + std::to_string(port_); }
    const std::string& dir() const { return dir_; }

    // The device side.
    void Send(const std::string& bytes) {
        if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("short write to the line");
        }
    }
    // What the host wrote, collected for up to `wait_ms`.
    std::string Receive(int wait_ms = 200) {
        std::string got;
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, wait_ms) > 0 && (p.revents & POLLIN)) {
            char buf[512];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
            wait_ms = 20;
        }
        return got;
    }
    // The host's current terminal settings, as the master side reports them.
    termios HostSettings() const {
        termios t{};
        tcgetattr(master_, &t);
        return t;
    }
    void HangUp() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

private:
    int port_;
    std::string dir_;
    std::string slave_path_;
    int master_ = -1;
    int slave_keep_ = -1;
};
