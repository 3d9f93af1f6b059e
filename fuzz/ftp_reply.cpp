// The FTP control client against a server whose every byte is the input: the greeting and the
// replies to USER, PASS and QUIT, over a loopback connection. Checked besides crashes, leaks and
// undefined behaviour: each step ends (the time-out is short; a hang is libFuzzer's time-out), a
// step succeeds only on its own reply code, and a reply kept is whole lines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "orvixtool/ftp/ftp_sock_client.h"

namespace {

// Answers one connection per input with the input's bytes, then ends its side and waits for the
// client to close.
class OneShotServer {
public:
    OneShotServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::abort();
        }
        port_ = ntohs(address.sin_port);
        std::thread([this] { Run(); }).detach();
    }
    int Port() const { return port_; }
    void Serve(std::string bytes) {
        std::lock_guard lock(mutex_);
        bytes_ = std::move(bytes);
    }

private:
    void Run() {
        for (;;) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string bytes;
            {
                std::lock_guard lock(mutex_);
                bytes = bytes_;
            }
            for (size_t sent = 0; sent < bytes.size();) {
                ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            ::shutdown(fd, SHUT_WR);
            char sink[512];
            while (::recv(fd, sink, sizeof sink, 0) > 0) {
            }
            ::close(fd);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::string bytes_;
};

OneShotServer* g_server = nullptr;

int CodeOf(const std::string& reply) {
    if (reply.size() < 3) return -1;
    return std::atoi(reply.substr(0, 3).c_str());
}

void CheckReply(const devod::CFtpSockClient& client) {
    const std::string& reply = client.LastReply();
    if (reply == "FAIL") {
        if (client.GetReplyCode() != 0 || client.IsConnected()) std::abort();
        return;
    }
    if (reply.size() < 5 || reply.compare(reply.size() - 2, 2, "\r\n") != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_server = new OneShotServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_server->Serve(std::string(reinterpret_cast<const char*>(data), size));
    devod::CFtpSockClient client;
    client.SetTimeoutMs(20);
    const bool connected = client.Connect("127.0.0.1", g_server->Port());
    if (connected && client.GetReplyCode() != 220) std::abort();
    if (!client.LastReply().empty()) CheckReply(client);
    if (!connected) return 0;
    if (CodeOf(client.LastReply()) != 220) std::abort();
    const bool logged_in = client.Login("owner", "secret");
    CheckReply(client);
    if (logged_in && client.GetReplyCode() != 230) std::abort();
    const bool was_connected = client.IsConnected();
    const bool quit = client.Quit();
    if (quit && was_connected && client.HasSocket()) std::abort();
    return 0;
}
