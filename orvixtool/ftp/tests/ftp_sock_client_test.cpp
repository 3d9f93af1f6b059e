#include "orvixtool/ftp/ftp_sock_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace devod {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A scripted FTP server on 127.0.0.1: it accepts one connection and runs its steps in order —
// send bytes, read one "\r\n"-terminated line, or hold the connection without reading — then
// closes. Received() holds each line read ("<eof>" or "<timeout>" when none came); read it only
// after Finish().
class FakeFtpServer {
public:
    FakeFtpServer() {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        EXPECT_EQ(::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        EXPECT_EQ(::listen(listen_fd_, 1), 0);
        socklen_t len = sizeof(addr);
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~FakeFtpServer() {
        Finish();
        ::close(listen_fd_);
    }

    FakeFtpServer& Send(std::string bytes) { return Add(Step::kSend, std::move(bytes)); }
    FakeFtpServer& Expect() { return Add(Step::kExpect, {}); }
    // Keeps the connection open and reads nothing until Finish().
    FakeFtpServer& Hold() { return Add(Step::kHold, {}); }

    FakeFtpServer& Start() {
        thread_ = std::thread([this] { Run(); });
        return *this;
    }
    // Ends a Hold, waits for the script to end and closes the connection.
    void Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    int port() const { return port_; }
    const std::vector<std::string>& Received() const { return received_; }

private:
    enum class Step { kSend, kExpect, kHold };
    static constexpr int kStepTimeoutMs = 5000;

    FakeFtpServer& Add(Step step, std::string bytes) {
        steps_.push_back({step, std::move(bytes)});
        return *this;
    }

    // Waits at most a step's time-out for fd to become readable, in short slices so that a
    // Finish() can end the wait for a client that never came.
    bool WaitReadable(int fd, bool stop_ends_wait) {
        const auto deadline = Clock::now() + milliseconds(kStepTimeoutMs);
        while (Clock::now() < deadline) {
            if (stop_ends_wait && stop_) return false;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) return true;
        }
        return false;
    }

    void Run() {
        if (!WaitReadable(listen_fd_, true)) return;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::string buffer;
        for (const auto& [step, bytes] : steps_) {
            if (step == Step::kSend) {
                ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            } else if (step == Step::kHold) {
                while (!stop_) std::this_thread::sleep_for(milliseconds(10));
            } else {
                received_.push_back(ReadLine(fd, buffer));
            }
        }
        ::close(fd);
    }

    std::string ReadLine(int fd, std::string& buffer) {
        for (;;) {
            const auto end = buffer.find("\r\n");
            if (end != std::string::npos) {
                std::string line = buffer.substr(0, end + 2);
                buffer.erase(0, end + 2);
                return line;
            }
            if (!WaitReadable(fd, false)) return "<timeout>";
            char chunk[65536];
            const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
            if (n <= 0) return "<eof>";
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    int listen_fd_ = -1;
    int port_ = 0;
    std::vector<std::pair<Step, std::string>> steps_;
    std::vector<std::string> received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A port on 127.0.0.1 with nothing listening: bound once to learn a free number, then released.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// --- Connect and the greeting ---

TEST(FtpSockConnect, MultiLineGreetingIsOneReply) {
    const std::string greeting = "220-Welcome\r\n220-more\r\n220 ready\r\n";
    FakeFtpServer server;
    server.Send(greeting).Hold().Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(client.HasSocket());
    EXPECT_EQ(client.GetReplyCode(), 220);
    EXPECT_EQ(client.LastReply(), greeting);
}

TEST(FtpSockConnect, GreetingOtherThan220IsRejected) {
    FakeFtpServer server;
    server.Send("421 busy\r\n").Hold().Start();
    CFtpSockClient client;
    EXPECT_FALSE(client.Connect("localhost", server.port()));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.GetReplyCode(), 421);
    EXPECT_EQ(client.LastReply(), "421 busy\r\n");
    // The socket stays, so Quit has nothing to say to the server and succeeds.
    EXPECT_TRUE(client.HasSocket());
    EXPECT_TRUE(client.Quit());
}

TEST(FtpSockConnect, NothingListeningFails) {
    CFtpSockClient client;
    EXPECT_FALSE(client.Connect("127.0.0.1", ClosedPort()));
    EXPECT_FALSE(client.IsConnected());
}

TEST(FtpSockConnect, BadHostOrPortFails) {
    CFtpSockClient client;
    EXPECT_FALSE(client.Connect("", 21));
    EXPECT_FALSE(client.Connect("127.0.0.1", 0));
    EXPECT_FALSE(client.Connect("127.0.0.1", 70000));
    EXPECT_FALSE(client.IsConnected());
}

TEST(FtpSockConnect, SilentServerTimesOut) {
    FakeFtpServer server;
    server.Hold().Start();
    CFtpSockClient client;
    client.SetTimeoutMs(200);
    const auto start = Clock::now();
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port()));
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.HasSocket());
    EXPECT_EQ(client.GetReplyCode(), 0);
}

TEST(FtpSockConnect, ReconnectAndDestructorCloseTheSocket) {
    FakeFtpServer first;
    first.Send("220 one\r\n").Expect().Start();
    FakeFtpServer second;
    second.Send("220 two\r\n").Expect().Start();
    {
        CFtpSockClient client;
        ASSERT_TRUE(client.Connect("127.0.0.1", first.port()));
        ASSERT_TRUE(client.Connect("127.0.0.1", second.port()));
        EXPECT_EQ(client.LastReply(), "220 two\r\n");
        first.Finish();
        // The first server saw its connection end instead of waiting out its time-out.
        EXPECT_EQ(first.Received(), std::vector<std::string>{"<eof>"});
    }
    second.Finish();
    EXPECT_EQ(second.Received(), std::vector<std::string>{"<eof>"});
}

// --- Login ---

TEST(FtpSockLogin, UserThenPassSucceeds) {
    FakeFtpServer server;
    server.Send("220 hi\r\n")
        .Expect()
        .Send("331-Password required\r\n331 go on\r\n")
        .Expect()
        .Send("230 logged in\r\n")
        .Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_TRUE(client.Login("bob", "secret"));
    EXPECT_EQ(client.GetReplyCode(), 230);
    server.Finish();
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"USER bob\r\n", "PASS secret\r\n"}));
}

TEST(FtpSockLogin, CodeComesFromTheFirstLine) {
    FakeFtpServer server;
    server.Send("220 hi\r\n")
        .Expect()
        .Send("331-first\r\n200 other\r\n")
        .Expect()
        .Send("230 ok\r\n")
        .Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_TRUE(client.Login("bob", "secret"));
    server.Finish();
    EXPECT_EQ(server.Received().size(), 2u);
}

TEST(FtpSockLogin, WrongPasswordFails) {
    FakeFtpServer server;
    server.Send("220 hi\r\n")
        .Expect()
        .Send("331 go on\r\n")
        .Expect()
        .Send("530 Login incorrect\r\n")
        .Hold()
        .Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_FALSE(client.Login("bob", "wrong"));
    EXPECT_EQ(client.GetReplyCode(), 530);
    EXPECT_TRUE(client.IsConnected());
}

TEST(FtpSockLogin, UserTakenAtOnceCountsAsFailed) {
    FakeFtpServer server;
    server.Send("220 hi\r\n").Expect().Send("230 welcome\r\n").Expect().Send("221 bye\r\n").Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_FALSE(client.Login("bob", "secret"));
    EXPECT_TRUE(client.Quit());
    server.Finish();
    // No PASS went out: the next thing the server read was the QUIT.
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"USER bob\r\n", "QUIT\r\n"}));
}

TEST(FtpSockLogin, WithoutConnectionFails) {
    CFtpSockClient client;
    client.SetReplyCode(331);
    EXPECT_FALSE(client.Login("bob", "secret"));
}

// --- Quit ---

TEST(FtpSockQuit, Answered221ClosesTheSocket) {
    FakeFtpServer server;
    server.Send("220 hi\r\n").Expect().Send("221 bye\r\n").Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_TRUE(client.Quit());
    EXPECT_FALSE(client.HasSocket());
    server.Finish();
    EXPECT_EQ(server.Received(), std::vector<std::string>{"QUIT\r\n"});
}

TEST(FtpSockQuit, OtherAnswerKeepsTheSocket) {
    FakeFtpServer server;
    server.Send("220 hi\r\n").Expect().Send("500 no\r\n").Hold().Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_FALSE(client.Quit());
    EXPECT_TRUE(client.HasSocket());
    EXPECT_EQ(client.GetReplyCode(), 500);
}

TEST(FtpSockQuit, WithoutSocketFails) {
    CFtpSockClient client;
    EXPECT_FALSE(client.Quit());
}

// --- SendCommand ---

TEST(FtpSockSend, NeverConnectedSendsNothingAndReadsFail) {
    CFtpSockClient client;
    client.SetReplyCode(123);
    EXPECT_TRUE(client.SendCommand("NOOP"));
    EXPECT_EQ(client.ReadReply(), "FAIL");
    EXPECT_EQ(client.GetReplyCode(), 123);  // nothing updated
    EXPECT_EQ(client.LastReply(), "");
}

TEST(FtpSockSend, EmptyCommandFails) {
    FakeFtpServer server;
    server.Send("220 hi\r\n").Hold().Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_FALSE(client.SendCommand(""));
    EXPECT_TRUE(client.IsConnected());
}

TEST(FtpSockSend, LineEndIsAddedOnce) {
    FakeFtpServer server;
    server.Send("220 hi\r\n").Expect().Expect().Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_TRUE(client.SendCommand("NOOP\r\n"));
    EXPECT_TRUE(client.SendCommand("SYST"));
    server.Finish();
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"NOOP\r\n", "SYST\r\n"}));
}

TEST(FtpSockSend, LargeCommandArrivesWhole) {
    // Bigger than the socket buffers, so the send goes out in parts.
    const std::string command = "SITE " + std::string(4 * 1024 * 1024, 'a');
    FakeFtpServer server;
    server.Send("220 hi\r\n").Expect().Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    EXPECT_TRUE(client.SendCommand(command));
    server.Finish();
    ASSERT_EQ(server.Received().size(), 1u);
    EXPECT_TRUE(server.Received()[0] == command + "\r\n");
}

TEST(FtpSockSend, StalledReceiverFailsInBoundedTime) {
    FakeFtpServer server;
    server.Send("220 hi\r\n").Hold().Start();
    CFtpSockClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port()));
    client.SetTimeoutMs(200);
    const std::string command = "STOR " + std::string(16 * 1024 * 1024, 'x');
    const auto start = Clock::now();
    EXPECT_FALSE(client.SendCommand(command));
    EXPECT_LT(ElapsedMs(start), 3000);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.HasSocket());
}

// --- Broken replies: each ends with "FAIL", code 0 and the connection closed ---

class FtpSockBrokenReply : public ::testing::Test {
protected:
    // Connects to a server that greets properly, answers the first command with `answer` and
    // then holds the line open; returns what ReadReply gave for that answer. The long default
    // time-out shows that a malformed reply is refused when it arrives, not by waiting.
    std::string ReplyTo(const std::string& answer, int timeout_ms = 5000) {
        server_.Send("220 hi\r\n").Expect().Send(answer).Hold().Start();
        EXPECT_TRUE(client_.Connect("127.0.0.1", server_.port()));
        client_.SetTimeoutMs(timeout_ms);
        EXPECT_TRUE(client_.SendCommand("NOOP"));
        const auto start = Clock::now();
        std::string reply = client_.ReadReply();
        read_ms_ = ElapsedMs(start);
        return reply;
    }
    void ExpectClosedWithFailure(const std::string& reply) {
        EXPECT_EQ(reply, "FAIL");
        EXPECT_LT(read_ms_, 1000);
        EXPECT_EQ(client_.GetReplyCode(), 0);
        EXPECT_FALSE(client_.IsConnected());
        EXPECT_FALSE(client_.HasSocket());
        // Once closed, reads fail at once and sends quietly do nothing.
        EXPECT_EQ(client_.ReadReply(), "FAIL");
        EXPECT_TRUE(client_.SendCommand("NOOP"));
    }

    FakeFtpServer server_;
    CFtpSockClient client_;
    long read_ms_ = 0;
};

TEST_F(FtpSockBrokenReply, ShortLine) { ExpectClosedWithFailure(ReplyTo("22\r\n")); }

TEST_F(FtpSockBrokenReply, EmptyLine) { ExpectClosedWithFailure(ReplyTo("\r\n")); }

TEST_F(FtpSockBrokenReply, ShortLineAfterGoodOnes) {
    ExpectClosedWithFailure(ReplyTo("200-fine\r\n\r\n200 end\r\n"));
}

TEST_F(FtpSockBrokenReply, NoAnswerTimesOut) { ExpectClosedWithFailure(ReplyTo("", 200)); }

TEST_F(FtpSockBrokenReply, EndlessMultiLineReply) {
    std::string flood;
    while (flood.size() < 128 * 1024) flood += "200-more of the same\r\n";
    ExpectClosedWithFailure(ReplyTo(flood));
}

TEST_F(FtpSockBrokenReply, EndlessLine) {
    ExpectClosedWithFailure(ReplyTo(std::string(128 * 1024, 'z')));
}

TEST(FtpSockBrokenGreeting, ClosedMidReply) {
    FakeFtpServer server;
    server.Send("220-first half\r\n").Start();  // the script ends here, so the server closes
    CFtpSockClient client;
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port()));
    EXPECT_EQ(client.GetReplyCode(), 0);
    EXPECT_EQ(client.LastReply(), "FAIL");
    EXPECT_FALSE(client.HasSocket());
}

TEST(FtpSockBrokenGreeting, ShortLine) {
    FakeFtpServer server;
    server.Send("22\r\n").Hold().Start();
    CFtpSockClient client;
    client.SetTimeoutMs(5000);
    const auto start = Clock::now();
    EXPECT_FALSE(client.Connect("127.0.0.1", server.port()));
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(client.GetReplyCode(), 0);
    EXPECT_FALSE(client.HasSocket());
}

}  // namespace
TEST(FtpSockDrip, AServerThatDripsAByteNowAndThenCannotHoldAReplyForEver) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof(addr);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::atomic<bool> stop{false};
    std::thread server([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        ::send(fd, "220-", 4, MSG_NOSIGNAL);
        // A byte every 100 ms: each receive alone is well inside the time-out.
        while (!stop && ::send(fd, "x", 1, MSG_NOSIGNAL) == 1) {
            std::this_thread::sleep_for(milliseconds(100));
        }
        ::close(fd);
    });
    CFtpSockClient client;
    client.SetTimeoutMs(300);
    const auto start = Clock::now();
    EXPECT_FALSE(client.Connect("127.0.0.1", ntohs(addr.sin_port)));
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
    stop = true;
    server.join();
    ::close(listener);
}

}  // namespace devod
