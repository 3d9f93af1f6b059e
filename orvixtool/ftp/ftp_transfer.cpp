#include "orvixtool/ftp/ftp_transfer.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

#include "orvixtool/ftp/ftp_sock_client.h"
#include "orvixtool/web/file_place.h"
#include "orvixtool/web/http_client.h"

namespace devod {
namespace {

constexpr const char* kUserAgent = "DevodTool";

// Once per process, as the web client does; false when the library cannot start.
bool GlobalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

// "ftp://host:port/", with an IPv6 address in brackets.
std::string BaseUrl(const std::string& host, int port) {
    bool bare_v6 = host.find(':') != std::string::npos && host.front() != '[';
    std::string name = bare_v6 ? "[" + host + "]" : host;
    return "ftp://" + name + ":" + std::to_string(port) + "/";
}

// The remote name as the path of a URL: every segment escaped, the "/" between them kept. A
// leading "/" is an absolute path, which a URL spells "%2F" (a plain one is the login folder).
std::string EscapePath(CURL* curl, const std::string& name) {
    std::string out;
    size_t start = 0;
    if (!name.empty() && name.front() == '/') {
        out = "%2F";
        start = 1;
    }
    while (true) {
        size_t slash = name.find('/', start);
        std::string segment =
            name.substr(start, slash == std::string::npos ? slash : slash - start);
        if (!segment.empty()) {
            char* escaped =
                curl_easy_escape(curl, segment.data(), static_cast<int>(segment.size()));
            if (escaped == nullptr) return {};
            out += escaped;
            curl_free(escaped);
        }
        if (slash == std::string::npos) break;
        out += '/';
        start = slash + 1;
    }
    return out;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// Where a download's bytes go: a buffer of exactly the announced size.
struct Receive {
    char* buffer = nullptr;
    size_t size = 0;
    size_t received = 0;
    bool overflow = false;
    IFtpNotify* notify = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    // The average rule: after the first `grace_seconds`, at least `average_rate` bytes a second
    // since the start, so that a server dripping just above the stall limit is cut too.
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    long grace_seconds = 30;
    long average_rate = kFtpMinAverageBytesPerSecond;

    bool Cancelled() const { return cancel != nullptr && cancel->load(); }
    bool TooSlow() const {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return static_cast<double>(received) <
               (seconds - static_cast<double>(grace_seconds)) * static_cast<double>(average_rate);
    }
};

// A piece of the file. Returning less than was handed aborts the transfer: when the server sends
// more than the size (nothing is written past the buffer) and when the user cancels.
size_t ReceiveChunk(char* data, size_t size, size_t count, void* user) {
    auto* receive = static_cast<Receive*>(user);
    size_t bytes = size * count;
    if (receive->Cancelled()) return 0;
    if (bytes > receive->size - receive->received) {
        receive->overflow = true;
        return 0;
    }
    std::memcpy(receive->buffer + receive->received, data, bytes);
    receive->received += bytes;
    if (receive->notify != nullptr) receive->notify->Post(kMsgFtpProgress, receive->received);
    return bytes;
}

// Called often even while nothing arrives, so a cancel ends a stalled transfer too, and so does
// a transfer too slow on average.
int CheckCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* receive = static_cast<Receive*>(user);
    return receive->Cancelled() || receive->TooSlow() ? 1 : 0;
}

[[noreturn]] void FailFile(const char* what, const std::string& name, int error) {
    throw FileError(std::string(what) + " \"" + name + "\": " + std::strerror(error));
}

// Writes the whole buffer to `part` and makes sure it is on disk before it replaces anything, so
// that a crash leaves the old file or the new one. Throws FileError.
void WritePart(const std::string& part, const char* data, size_t size) {
    int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) FailFile("cannot create", part, errno);
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            int error = written < 0 ? errno : ENOSPC;
            ::close(fd);
            FailFile("cannot write", part, error);
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        int error = errno;
        ::close(fd);
        FailFile("cannot write", part, error);
    }
    if (::close(fd) != 0) FailFile("cannot write", part, errno);
}

}  // namespace

struct CFtpTransfer::Session {
    CURL* curl = nullptr;
    std::string base_url;  // "ftp://host:port/"

    ~Session() {
        if (curl != nullptr) curl_easy_cleanup(curl);
    }
};

CFtpTransfer::CFtpTransfer(int port) : port_(port) {}

CFtpTransfer::~CFtpTransfer() = default;

bool CFtpTransfer::Connect(const std::string& host, const std::string& user,
                           const std::string& password) {
    session_.reset();
    connected_ = 0;
    file_size_ = 0;
    if (host.empty() || port_ <= 0 || port_ > 65535) {
        error_code_ = kErrorUnreachable;
        return false;
    }
    long timeout = std::max(1L, timeout_seconds_);
    auto session = std::make_unique<Session>();
    session->base_url = BaseUrl(host, port_);
    bool logged_in = false;
    if (GlobalInit() && (session->curl = curl_easy_init()) != nullptr) {
        CURL* curl = session->curl;
        curl_easy_setopt(curl, CURLOPT_URL, session->base_url.c_str());
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
        curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
        curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, timeout * 1000L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
        logged_in = curl_easy_perform(curl) == CURLE_OK;
    }
    if (logged_in) {
        session_ = std::move(session);
        connected_ = 1;
        error_code_ = kErrorNone;
        return true;
    }
    session.reset();

    // Tell an unreachable server from a rejected login on a plain control connection.
    CFtpSockClient probe;
    probe.SetTimeoutMs(static_cast<int>(std::min(timeout, 3600L) * 1000));
    if (!probe.Connect(host, port_)) {
        error_code_ = kErrorUnreachable;
        return false;
    }
    bool accepted = probe.Login(user, password);
    if (!accepted) error_code_ = kErrorLogin;
    probe.Quit();
    return false;
}

bool CFtpTransfer::Disconnect() {
    session_.reset();
    connected_ = 0;
    file_size_ = 0;
    return true;
}

bool CFtpTransfer::GetRemoteSize(const std::string& remote_name) {
    file_size_ = 0;
    if (!session_) return false;
    CURL* curl = session_->curl;
    std::string path = EscapePath(curl, remote_name);
    if (path.empty() || path == "%2F" || path.back() == '/') {
        error_code_ = kErrorNoFile;  // no file name: nothing to ask for
        return false;
    }
    std::string url = session_->base_url + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // SIZE and MDTM only: no data connection. MDTM makes a missing file an error even where the
    // library would otherwise take a refused SIZE as "no size known".
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    CURLcode result = curl_easy_perform(curl);
    curl_off_t length = -1;
    if (result == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    }
    if (length < 0) {
        error_code_ = kErrorNoFile;
        return false;
    }
    file_size_ = static_cast<uint32_t>(static_cast<uint64_t>(length) & 0xFFFFFFFFu);
    return file_size_ != 0;
}

bool CFtpTransfer::Download(const std::string& remote_name, const std::string& local_name,
                            IFtpNotify* notify, const std::atomic<bool>* cancel) {
    download_error_.clear();
    if (local_name.empty()) {
        download_error_ = "no local file name";
        return false;
    }
    if (!GetRemoteSize(remote_name)) return false;

    Receive receive;
    receive.size = file_size_;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[receive.size]);
    if (!buffer) {
        download_error_ = "not enough memory for " + std::to_string(receive.size) + " bytes";
        return false;
    }
    receive.buffer = buffer.get();
    receive.notify = notify;
    receive.cancel = cancel;
    receive.grace_seconds = std::max(1L, timeout_seconds_);
    if (receive.Cancelled()) return false;

    // The URL is the one GetRemoteSize set. The library would otherwise ask for the size once
    // more and stop reading there; without it every byte the server sends reaches ReceiveChunk,
    // which tells a longer file from the size.
    CURL* curl = session_->curl;
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_FILETIME, 0L);
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ReceiveChunk);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &receive);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &receive);
    CURLcode result = curl_easy_perform(curl);
    // `receive` goes out of scope: no callback may point at it afterwards.
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, nullptr);
    if (result != CURLE_OK || receive.overflow || receive.received != receive.size) return false;

    std::string part = local_name + ".part";
    try {
        WritePart(part, receive.buffer, receive.size);
        PlaceDownloadedFile(part, local_name);
    } catch (const FileError& error) {
        ::unlink(part.c_str());
        download_error_ = error.what();
        return false;
    }
    return true;
}

}  // namespace devod
