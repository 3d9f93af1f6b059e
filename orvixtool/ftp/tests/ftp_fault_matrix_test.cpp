// The FTP transfer under every fault a server can play on its control connection (the greeting),
// on the login (the answer to PASS) and on the data transfer: it ends within the (shortened)
// time-outs, fails with its error, and the local file keeps its old content. Prints the table of
// outcomes at the end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvixtool/ftp/ftp_transfer.h"
#include "orvixtool/testsupport/test_env.h"

namespace devod {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

enum class Stage { kControl, kLogin, kData };
enum class Fault { k500, kTruncated, kStall, kDrip, kReset, kEndless, kRedirectLoop };
constexpr Stage kStages[] = {Stage::kControl, Stage::kLogin, Stage::kData};
constexpr Fault kFaults[] = {Fault::k500,   Fault::kTruncated, Fault::kStall,       Fault::kDrip,
                             Fault::kReset, Fault::kEndless,   Fault::kRedirectLoop};

const char* Name(Stage stage) {
    switch (stage) {
        case Stage::kControl: return "control connection (greeting)";
        case Stage::kLogin: return "login (answer to PASS)";
        case Stage::kData: return "data transfer (RETR)";
    }
    return "?";
}

const char* Name(Fault fault) {
    switch (fault) {
        case Fault::k500: return "status 500";
        case Fault::kTruncated: return "truncated body";
        case Fault::kStall: return "stall";
        case Fault::kDrip: return "drip";
        case Fault::kReset: return "reset";
        case Fault::kEndless: return "endless body";
        case Fault::kRedirectLoop: return "redirect loop";
    }
    return "?";
}

constexpr size_t kFileSize = 64 * 1024;
constexpr char kOldFile[] = "the file fetched last time";

std::string FileBytes() {
    std::string bytes(kFileSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    return bytes;
}

// A scripted FTP server on 127.0.0.1 (active mode only): greets, takes any login, answers the
// commands the transfer sends, and plays one fault at one stage. Control connections are served
// one after the other; every wait ends when the server goes.
class FaultyFtpServer {
public:
    FaultyFtpServer(Stage stage, Fault fault) : stage_(stage), fault_(fault) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~FaultyFtpServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    bool Stopped() const { return stop_.load(); }

    bool SendAll(int fd, const std::string& bytes, int drip_ms = 0) {
        for (size_t at = 0; at < bytes.size();) {
            if (Stopped()) return false;
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            const size_t piece = drip_ms > 0 ? 1 : bytes.size() - at;
            ssize_t n = ::send(fd, bytes.data() + at, piece, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
            if (drip_ms > 0 && !Pause(drip_ms)) return false;
        }
        return true;
    }
    bool Pause(int ms) {
        const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
        while (SteadyClock::now() < until) {
            if (Stopped()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
        }
        return true;
    }
    // Holds a connection open without sending until the peer goes or the server stops.
    void Hold(int fd) {
        char buf[256];
        while (!Stopped()) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 50) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
        }
    }
    static void Reset(int fd) {
        linger lg{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    // One command line, or empty when the peer went.
    std::string ReadLine(int fd) {
        std::string line;
        while (!Stopped()) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            char c;
            if (::recv(fd, &c, 1, 0) <= 0) return {};
            line += c;
            if (line.size() >= 2 && line.ends_with("\r\n")) return line.substr(0, line.size() - 2);
            if (line.size() > 4096) return {};
        }
        return {};
    }
    // Plays the stage's fault in place of a normal `reply`. False ends the connection.
    bool Faulty(int fd, const std::string& reply, const std::string& code) {
        switch (fault_) {
            case Fault::k500: return SendAll(fd, "500 Internal error\r\n");
            case Fault::kTruncated: SendAll(fd, reply.substr(0, 2)); return false;
            case Fault::kStall: Hold(fd); return false;
            case Fault::kDrip: return SendAll(fd, reply, 50);
            case Fault::kReset: Reset(fd); return false;
            case Fault::kEndless:
                while (SendAll(fd, code + "-more of this answer, and more\r\n")) {
                }
                return false;
            case Fault::kRedirectLoop: return false;  // FTP has no redirects: not played
        }
        return false;
    }

    void Run() {
        while (!Stopped()) {
            pollfd pfd{listener_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            Serve(fd);
            ::close(fd);
        }
    }

    void Serve(int fd) {
        const std::string greeting = "220 test server ready\r\n";
        if (stage_ == Stage::kControl) {
            if (!Faulty(fd, greeting, "220")) return;
            if (fault_ == Fault::k500) {
                Hold(fd);
                return;
            }
        } else if (!SendAll(fd, greeting)) {
            return;
        }
        sockaddr_in data{};
        bool have_data = false;
        for (;;) {
            const std::string line = ReadLine(fd);
            if (line.empty()) return;
            const std::string verb = line.substr(0, line.find(' '));
            const std::string arg = line.find(' ') == std::string::npos
                                        ? std::string()
                                        : line.substr(line.find(' ') + 1);
            if (verb == "USER") {
                if (!SendAll(fd, "331 password please\r\n")) return;
            } else if (verb == "PASS") {
                const std::string ok = "230 logged in\r\n";
                if (stage_ == Stage::kLogin) {
                    if (!Faulty(fd, ok, "230")) return;
                } else if (!SendAll(fd, ok)) {
                    return;
                }
            } else if (verb == "PWD") {
                if (!SendAll(fd, "257 \"/\" is the folder\r\n")) return;
            } else if (verb == "MDTM") {
                if (!SendAll(fd, "213 20260101000000\r\n")) return;
            } else if (verb == "SIZE") {
                if (!SendAll(fd, "213 " + std::to_string(kFileSize) + "\r\n")) return;
            } else if (verb == "EPRT" || verb == "PORT") {
                have_data = ParseAddress(verb, arg, &data);
                if (!SendAll(fd, have_data ? "200 ok\r\n" : "501 bad address\r\n")) return;
            } else if (verb == "RETR") {
                if (!have_data || !Retrieve(fd, data)) return;
                have_data = false;
            } else if (verb == "QUIT") {
                SendAll(fd, "221 bye\r\n");
                return;
            } else if (verb == "REST" && arg == "0") {
                if (!SendAll(fd, "350 ok\r\n")) return;
            } else {
                if (!SendAll(fd, "200 ok\r\n")) return;
            }
        }
    }

    static bool ParseAddress(const std::string& verb, const std::string& arg, sockaddr_in* out) {
        *out = sockaddr_in{};
        out->sin_family = AF_INET;
        if (verb == "EPRT") {  // |1|127.0.0.1|port|
            if (arg.size() < 4 || arg.substr(0, 3) != "|1|") return false;
            const size_t host_end = arg.find('|', 3);
            if (host_end == std::string::npos) return false;
            const std::string host = arg.substr(3, host_end - 3);
            const int port = std::atoi(arg.c_str() + host_end + 1);
            if (::inet_pton(AF_INET, host.c_str(), &out->sin_addr) != 1 || port <= 0) return false;
            out->sin_port = htons(static_cast<uint16_t>(port));
            return true;
        }
        unsigned a, b, c, d, p1, p2;  // h1,h2,h3,h4,p1,p2
        if (std::sscanf(arg.c_str(), "%u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &p1, &p2) != 6) {
            return false;
        }
        out->sin_addr.s_addr = htonl((a << 24) | (b << 16) | (c << 8) | d);
        out->sin_port = htons(static_cast<uint16_t>(p1 * 256 + p2));
        return true;
    }

    // The data connection of a RETR, with the stage's fault when it is the data stage. False
    // ends the control connection.
    bool Retrieve(int control, const sockaddr_in& address) {
        if (!SendAll(control, "150 here it comes\r\n")) return false;
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            if (fd >= 0) ::close(fd);
            return SendAll(control, "425 no data connection\r\n");
        }
        const std::string file = FileBytes();
        bool whole = true;  // what the control connection claims afterwards
        if (stage_ != Stage::kData) {
            SendAll(fd, file);
        } else {
            switch (fault_) {
                case Fault::k500: ::close(fd); return SendAll(control, "500 Internal error\r\n");
                case Fault::kTruncated: SendAll(fd, file.substr(0, file.size() / 2)); break;
                case Fault::kStall: Hold(fd); break;
                case Fault::kDrip: SendAll(fd, file, 50); break;
                case Fault::kReset:
                    SendAll(fd, file.substr(0, file.size() / 2));
                    Reset(fd);
                    whole = false;
                    break;
                case Fault::kEndless:
                    while (SendAll(fd, file)) {
                    }
                    break;
                case Fault::kRedirectLoop: SendAll(fd, file); break;
            }
        }
        ::close(fd);
        // A truncated transfer is claimed complete: the client must count the bytes itself.
        return SendAll(control, whole ? "226 transfer complete\r\n" : "426 transfer aborted\r\n");
    }

    Stage stage_;
    Fault fault_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string RunCell(Stage stage, Fault fault) {
    SCOPED_TRACE(std::string(Name(stage)) + " / " + Name(fault));
    webtest::TempDir dir;
    const std::string local = dir.path() + "/db.bin";
    std::ofstream(local) << kOldFile;
    FaultyFtpServer server(stage, fault);
    CFtpTransfer transfer(server.port());
    transfer.SetTimeoutSeconds(1);

    const auto start = SteadyClock::now();
    std::string outcome;
    const bool connected = transfer.Connect("127.0.0.1", "bob", "secret");
    bool downloaded = false;
    if (!connected) {
        outcome = "failed: connect, error " + std::to_string(transfer.ErrorCode());
    } else {
        downloaded = transfer.Download("db.bin", local, nullptr);
        outcome = downloaded ? "downloaded" : "failed: download";
        if (!transfer.DownloadError().empty()) outcome += " (" + transfer.DownloadError() + ")";
    }
    const auto took = SteadyClock::now() - start;

    const std::string now = ReadAll(local);
    EXPECT_LT(took, std::chrono::seconds(30)) << outcome;
    EXPECT_FALSE(fs::exists(local + ".part"));
    if (downloaded) {
        EXPECT_TRUE(now == FileBytes()) << "a download reported whole holds other bytes";
    } else {
        EXPECT_EQ(now, kOldFile) << "a failed download touched the file";
    }
    const bool played =
        fault != Fault::kRedirectLoop && !(fault == Fault::kDrip && stage != Stage::kData);
    if (played) {
        EXPECT_FALSE(downloaded) << outcome;
    }
    if (fault == Fault::kRedirectLoop) return "n/a (FTP has no redirects), " + outcome;
    outcome += downloaded ? ", new file" : ", kept old file";
    return outcome;
}

}  // namespace

TEST(FtpFaultMatrix, EveryStageOfTheTransferUnderEveryFaultFailsCleanly) {
    std::map<std::pair<size_t, size_t>, std::string> cells;
    for (size_t r = 0; r < std::size(kStages); ++r) {
        for (size_t c = 0; c < std::size(kFaults); ++c) {
            cells[{r, c}] = RunCell(kStages[r], kFaults[c]);
        }
    }
    std::printf("\nFTP fault matrix (stage, then the transfer's outcome under each fault)\n");
    for (size_t r = 0; r < std::size(kStages); ++r) {
        std::printf("\n%s\n", Name(kStages[r]));
        for (size_t c = 0; c < std::size(kFaults); ++c) {
            std::printf("  %-15s %s\n", Name(kFaults[c]), cells[{r, c}].c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace devod
