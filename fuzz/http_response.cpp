// CHttpClient taking a web server's answer: a listener on 127.0.0.1, started once, answers every
// request with the fuzz input's bytes (status line, headers, body) and closes the connection.
// It is also the proxy for every other host, so that a redirect never leaves this machine.
//
// Input: byte 0 chooses the request: 0 GetPage, 1 DownloadFile over a previous file, 2 both on
// one client (page first); the rest is the raw answer.
//
// Checked: nothing crashes, leaks or throws other than as documented; a download that fails
// keeps the previous file unchanged and leaves no ".part" file; one that succeeds leaves a
// non-empty file within the size bound and no ".part" file; page and download agree on the same
// answer. For a plain answer (status 200, a few ordinary headers, at most one Content-Length,
// no transfer coding) the outcome is known exactly: the page and the file hold the body (cut to
// the Content-Length), and nothing when the body is cut short, empty or too large.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "orvixtool/web/http_client.h"

namespace {

// Small, so that the bound is reached by inputs of a few kilobytes.
constexpr uint64_t kMaxDownload = 2048;
constexpr char kPrevious[] = "the previous database";

std::mutex g_mutex;
std::string g_answer;  // what the listener sends, under g_mutex
int g_port = 0;
std::string g_local;  // the download's local file

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "http_response: %s\n", what.c_str());
    std::abort();
}

void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

// Reads a request's head (up to its blank line) for at most 2 s.
bool ReadHead(int fd) {
    std::string head;
    char buf[2048];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (std::chrono::steady_clock::now() > until) return false;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        head.append(buf, static_cast<size_t>(n));
    }
    return true;
}

// One connection after the other: the head read whole (so that the close is orderly), the
// answer, the close.
void Serve(int listener) {
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const timeval bound{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        if (ReadHead(fd)) {
            std::string answer;
            {
                std::lock_guard lock(g_mutex);
                answer = g_answer;
            }
            std::string_view rest(answer);
            while (!rest.empty()) {
                const ssize_t n = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
                if (n <= 0) break;
                rest.remove_prefix(static_cast<size_t>(n));
            }
            shutdown(fd, SHUT_WR);
        }
        close(fd);
    }
}

std::string ReadWhole(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

bool Printable(std::string_view text) {
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// The body of a plain 200 answer, and its Content-Length; nothing for any other answer.
struct PlainAnswer {
    std::string body;
    long long length = -1;
};

std::optional<PlainAnswer> ParsePlain(std::string_view answer) {
    const size_t status_end = answer.find("\r\n");
    if (status_end == std::string_view::npos) return std::nullopt;
    const std::string_view status = answer.substr(0, status_end);
    if (!(status.starts_with("HTTP/1.0 200 ") || status.starts_with("HTTP/1.1 200 ")) ||
        !Printable(status)) {
        return std::nullopt;
    }
    PlainAnswer plain;
    size_t at = status_end + 2;
    for (;;) {
        const size_t end = answer.find("\r\n", at);
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view line = answer.substr(at, end - at);
        at = end + 2;
        if (line.empty()) break;
        if (!Printable(line)) return std::nullopt;
        if (StartsWithNoCase(line, "content-length: ")) {
            const std::string_view digits = line.substr(16);
            if (plain.length >= 0 || digits.empty() || digits.size() > 9) return std::nullopt;
            long long value = 0;
            for (char c : digits) {
                if (c < '0' || c > '9') return std::nullopt;
                value = value * 10 + (c - '0');
            }
            plain.length = value;
        } else if (!StartsWithNoCase(line, "content-type: ") &&
                   !StartsWithNoCase(line, "server: ") &&
                   !StartsWithNoCase(line, "cache-control: ")) {
            return std::nullopt;
        }
    }
    plain.body = std::string(answer.substr(at));
    return plain;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The per-user registry, the working files and the client's failure lines go elsewhere.
    // In memory where there is such a folder: the runs write a file each time, and a disk
    // would flush every replaced file.
    std::string pattern = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                          "/fuzz_http_response_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
    static const std::string dir = pattern;
    std::atexit([] { std::filesystem::remove_all(dir); });
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    g_local = dir + "/tmpDB";
    if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("cannot silence stdout");

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        Fail("cannot listen on 127.0.0.1");
    }
    g_port = ntohs(addr.sin_port);
    std::thread(Serve, listener).detach();

    const std::string port = std::to_string(g_port);
    const std::string proxy = "http://127.0.0.1:" + port;
    setenv("DEVOD_WEB_HOST", "127.0.0.1", 1);
    setenv("DEVOD_WEB_PORT", port.c_str(), 1);
    for (const char* name :
         {"http_proxy", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) {
        setenv(name, proxy.c_str(), 1);
    }
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    // Nothing waits: a second without bytes ends a transfer.
    CHttpClient::SetTimeouts({1, 1, 1, 1, 1});
    CHttpClient::SetMaxDownloadBytes(kMaxDownload);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int mode = data[0] % 3;
    const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
    {
        std::lock_guard lock(g_mutex);
        g_answer = answer;
    }
    const std::optional<PlainAnswer> plain = ParsePlain(answer);
    const std::string part = g_local + ".part";

    CHttpClient client;
    std::optional<std::string> page;
    if (mode != 1) {
        page = client.GetPage("/kvshop/category.php?xCat=5");
        if (plain) {
            std::string expected;
            if (plain->length < 0) {
                expected = plain->body;
            } else if (plain->body.size() >= static_cast<size_t>(plain->length)) {
                expected = plain->body.substr(0, static_cast<size_t>(plain->length));
            }
            Check(*page == expected, "the page is not the answer's body");
        }
    }
    if (mode == 0) return 0;

    { std::ofstream(g_local, std::ios::binary | std::ios::trunc) << kPrevious; }
    bool ok = false;
    try {
        ok = client.DownloadFile("127.0.0.1", "/kvdb/db.hdr", g_local);
    } catch (const devod::FileError& error) {
        Fail(std::string("the download could not write its file: ") + error.what());
    }
    const std::string file = ReadWhole(g_local);
    Check(!std::filesystem::exists(part), "a .part file was left behind");
    if (!ok) {
        Check(file == kPrevious, "a failed download changed the previous file");
    } else {
        Check(!file.empty() && file.size() <= kMaxDownload, "the file is empty or too large");
    }
    if (plain) {
        std::optional<std::string> expected;
        if (plain->length < 0) {
            if (plain->body.size() <= kMaxDownload) expected = plain->body;
        } else if (static_cast<uint64_t>(plain->length) <= kMaxDownload &&
                   plain->body.size() >= static_cast<size_t>(plain->length)) {
            expected = plain->body.substr(0, static_cast<size_t>(plain->length));
        }
        if (expected && expected->empty()) expected.reset();
        Check(ok == expected.has_value(),
              ok ? "a download of no whole body succeeded" : "a download of a whole body failed");
        if (ok) Check(file == *expected, "the file is not the answer's body");
    }
    // The same answer read as a page and as a file: a file in place holds the page, and a page
    // within the download bound is a file.
    if (page) {
        if (ok) Check(*page == file, "the file is not the page of the same answer");
        if (!page->empty() && page->size() <= kMaxDownload) {
            Check(ok, "the page of an answer was read but its download failed");
        }
    }
    return 0;
}
