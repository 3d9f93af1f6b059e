// A real FTP server for the tests: Debian's pyftpdlib (python3-pyftpdlib, installed by
// scripts/setup.sh) run as a child process on 127.0.0.1, on a port the system picks, serving one
// folder to user "bob" with password "secret". Knobs make it lie about sizes and send slowly.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace devod::testing {

// The server script. argv: root folder, the number added to every SIZE answer, the data
// connection's bytes per second (0: unlimited). It prints its port once it listens.
inline constexpr const char* kFtpServerScript = R"PY(
import os, sys
try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
    from pyftpdlib.servers import FTPServer
except ImportError as error:
    sys.stderr.write("pyftpdlib is missing: %s\n" % error)
    sys.exit(3)

root, size_delta, rate = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

class Handler(FTPHandler):
    def ftp_SIZE(self, path):
        if size_delta == 0 or not os.path.isfile(path):
            return FTPHandler.ftp_SIZE(self, path)
        self.respond("213 %d" % (os.path.getsize(path) + size_delta))

authorizer = DummyAuthorizer()
authorizer.add_user("bob", "secret", root, perm="elradfmw")
Handler.authorizer = authorizer
Handler.banner = "test server ready"
# A rejected login is answered at once (the default waits 3 s).
Handler.auth_failed_timeout = 0.05
if rate > 0:
    class Slow(ThrottledDTPHandler):
        read_limit = rate
        write_limit = rate
    Handler.dtp_handler = Slow
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
)PY";

// A port nobody listens on right now: bound to 0, read and closed.
inline int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

class FtpTestServer {
public:
    FtpTestServer() = default;
    ~FtpTestServer() { Stop(); }
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    // Starts the server on `root` (its script and log go to `work`). Empty on success, else why
    // it did not start.
    std::string Start(const std::string& root, const std::string& work, long size_delta = 0,
                      long bytes_per_second = 0) {
        Stop();
        std::string script = work + "/ftp_server.py";
        log_ = work + "/ftp_server.log";
        std::ofstream(script) << kFtpServerScript;
        // Debian's interpreter first: the package installs the module for that one.
        std::string python =
            ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        std::string delta = std::to_string(size_delta);
        std::string rate = std::to_string(bytes_per_second);

        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
        pid_ = ::fork();
        if (pid_ < 0) return "fork failed";
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) ::dup2(log, STDERR_FILENO);
            ::execlp(python.c_str(), python.c_str(), script.c_str(), root.c_str(), delta.c_str(),
                     rate.c_str(), static_cast<char*>(nullptr));
            std::fprintf(stderr, "cannot run %s\n", python.c_str());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line = ReadLine(out[0], std::chrono::seconds(15));
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
        if (port_ <= 0) {
            Stop();
            std::ifstream in(log_);
            std::string reason((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
            return "the FTP test server did not start; it needs " + python +
                   " with pyftpdlib (Debian package python3-pyftpdlib, see scripts/setup.sh): " +
                   reason;
        }
        return {};
    }

    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    int port() const { return port_; }

private:
    static std::string ReadLine(int fd, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        std::string line;
        while (true) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char c;
            ssize_t got = ::read(fd, &c, 1);
            if (got <= 0) return {};  // the server ended before it listened
            if (c == '\n') return line;
            line += c;
        }
    }

    pid_t pid_ = -1;
    int port_ = -1;
    std::string log_;
};

}  // namespace devod::testing
