#include "orvixtool/web/http_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <utility>

#include "orvixtool/web/file_place.h"
#include "orvixtool/web/link_extractor.h"
#include "orvixtool/web/web_config.h"

namespace devod {
namespace {

constexpr size_t kChunkBytes = 1024;
constexpr long kMaxRedirects = 10;
constexpr const char* kFormHeader = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kKeepAliveHeader = "Connection: keep-alive";
constexpr const char* kUserAgent = "DevodTool";
// A body nobody reads is skipped up to this size, then the transfer is dropped.
constexpr size_t kUnreadBodyLimit = 1024 * 1024;

using Clock = std::chrono::steady_clock;

std::atomic<long> g_connect_seconds{HttpTimeouts{}.connect_seconds};
std::atomic<long> g_stall_seconds{HttpTimeouts{}.stall_seconds};
std::atomic<long> g_stall_rate{HttpTimeouts{}.stall_bytes_per_second};
std::atomic<long> g_grace_seconds{HttpTimeouts{}.grace_seconds};
std::atomic<long> g_average_rate{HttpTimeouts{}.average_bytes_per_second};
std::atomic<uint64_t> g_max_download{kMaxDatabaseBytes};

// What a request does with the answer.
class Receiver {
public:
    virtual ~Receiver() = default;
    // Once the headers of the final answer are in (never for a redirect that is followed).
    // length: its Content-Length, or -1 when it has none.
    virtual void OnStatus(long status, long long length) { (void)status, (void)length; }
    // One piece of the body, at most kChunkBytes. False stops the transfer (not a failure).
    virtual bool OnChunk(const char* data, size_t size) = 0;
};

// Skips the body, up to kUnreadBodyLimit.
class Discard : public Receiver {
public:
    bool OnChunk(const char*, size_t size) override {
        skipped_ += size;
        return skipped_ <= kUnreadBodyLimit;
    }

private:
    size_t skipped_ = 0;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// The value of a header line "Name: value\r\n", without blanks around it.
std::string_view HeaderValue(std::string_view line, size_t name_size) {
    line.remove_prefix(name_size);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    size_t last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

// A Content-Length value, or -1 when it is not a plain number.
long long ParseLength(std::string_view value) {
    if (value.empty() || value.size() > 18) return -1;
    long long length = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return -1;
        length = length * 10 + (c - '0');
    }
    return length;
}

struct Transfer {
    Transfer(CURL* c, Receiver* r) : curl(c), receiver(r) {}

    CURL* curl;
    Receiver* receiver;
    Clock::time_point start = Clock::now();
    long grace_seconds = g_grace_seconds.load();
    long average_rate = g_average_rate.load();
    uint64_t arrived = 0;  // header and body bytes of every answer, for the average rule
    bool status_told = false;
    bool stopped = false;
    bool too_slow = false;
    // The answer whose headers are coming in.
    long long length = -1;       // its Content-Length
    bool location = false;       // it has a Location to go to
    std::exception_ptr failure;  // thrown by the receiver, rethrown after the transfer

    // With redirects followed, the library reads a 3xx answer with a Location, skips its body
    // and asks again; such an answer is no business of the receiver.
    void TellStatus(bool headers_end) {
        if (status_told) return;
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200) return;  // an interim answer
        if (headers_end && status >= 300 && status < 400 && location) return;
        status_told = true;
        receiver->OnStatus(status, length);
    }

    // The average rule of HttpTimeouts.
    bool TooSlow() const {
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        double due = (seconds - static_cast<double>(grace_seconds)) * average_rate;
        return static_cast<double>(arrived) < due;
    }

    std::string SlowText() const {
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return "Transfer too slow: " + std::to_string(arrived) + " bytes in " +
               std::to_string(static_cast<long>(seconds)) + " s, at least " +
               std::to_string(average_rate) + " bytes/s are needed after the first " +
               std::to_string(grace_seconds) + " s";
    }
};

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    transfer->arrived += bytes;
    std::string_view line(data, bytes);
    if (StartsWithNoCase(line, "http/")) {  // the status line of a new answer
        transfer->length = -1;
        transfer->location = false;
    } else if (StartsWithNoCase(line, "location:")) {
        transfer->location = !HeaderValue(line, 9).empty();
    } else if (StartsWithNoCase(line, "content-length:")) {
        transfer->length = ParseLength(HeaderValue(line, 15));
    }
    if (line != "\r\n" && line != "\n") return bytes;
    try {
        transfer->TellStatus(true);
    } catch (...) {
        transfer->failure = std::current_exception();
        return 0;
    }
    return bytes;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    transfer->arrived += bytes;
    try {
        transfer->TellStatus(false);  // the library passes on the final answer's body only
        for (size_t done = 0; done < bytes;) {
            size_t piece = std::min(kChunkBytes, bytes - done);
            if (!transfer->receiver->OnChunk(data + done, piece)) {
                transfer->stopped = true;
                return 0;
            }
            done += piece;
        }
    } catch (...) {
        transfer->failure = std::current_exception();
        return 0;
    }
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (!transfer->TooSlow()) return 0;
    transfer->too_slow = true;
    return 1;  // aborts the transfer
}

// Redirects may go to https as well where this libcurl has it, never to another scheme.
void AllowProtocols(CURL* c) {
    for (const char* list : {"http,https", "http"}) {
        if (curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, list) == CURLE_OK &&
            curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, list) == CURLE_OK) {
            return;
        }
    }
}

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Loopback is never sent through a proxy; the user's own exceptions are kept.
std::string NoProxyList() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            list += ',';
            list += value;
        }
    }
    return list;
}

void PrintFailure(const std::exception& error) {
    std::string text = error.what();
    if (text.size() > 63) text.resize(63);
    std::printf("%63s", text.c_str());
    std::fflush(stdout);
}

std::string SystemReason(int error) { return std::strerror(error); }

}  // namespace

std::string EncodeFormValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

bool SplitDownloadLink(const std::string& link, std::string* host, std::string* path) {
    size_t scheme_end = link.find("//");
    if (scheme_end == std::string::npos) return false;
    size_t host_start = scheme_end + 2;
    size_t slash = link.find('/', host_start);
    if (slash == std::string::npos) return false;
    *host = link.substr(host_start, slash - host_start);
    *path = link.substr(slash);
    return true;
}

}  // namespace devod

using devod::FileError;
using devod::InternetError;

struct CHttpClient::Session {
    CURLSH* share = nullptr;
    // Where the shop is, read once for the whole run: every request uses this port.
    devod::WebEndpoint endpoint = devod::CurrentWebEndpoint();

    enum class Method { kGet, kPost };

    ~Session() {
        if (share != nullptr) curl_share_cleanup(share);
    }

    // One request to http://host:<configured port>path, following redirects. Returns the last
    // answer's status; its body goes to receiver. Throws InternetError, or what the receiver
    // threw.
    long Request(Method method, const std::string& host, const std::string& path,
                 const std::string* form_body, devod::Receiver& receiver) {
        std::unique_ptr<CURL, devod::EasyDeleter> curl(curl_easy_init());
        if (!curl) throw InternetError("cannot start an internet request");
        CURL* c = curl.get();
        char error_text[CURL_ERROR_SIZE] = {};
        std::string url = "http://" + host + ":" + std::to_string(endpoint.port) + path;
        std::string no_proxy = devod::NoProxyList();
        devod::Transfer transfer(c, &receiver);

        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error_text);
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        devod::AllowProtocols(c);
        curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        // Without CURLOPT_POSTREDIR a 301/302/303 after a POST goes on as a GET.
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, devod::kMaxRedirects);
        curl_easy_setopt(c, CURLOPT_USERAGENT, devod::kUserAgent);
        curl_easy_setopt(c, CURLOPT_SHARE, share);
        curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");  // the cookie engine, also with a share
        curl_easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(devod::kChunkBytes));
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, devod::g_connect_seconds.load());
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, devod::g_stall_rate.load());
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, devod::g_stall_seconds.load());
        // Called about once a second at least, also while nothing arrives.
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, devod::OnProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, devod::OnHeaderLine);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, devod::OnBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);

        // HTTP/1.0 closes the connection after each answer unless asked to keep it.
        std::unique_ptr<curl_slist, devod::ListDeleter> headers(
            curl_slist_append(nullptr, devod::kKeepAliveHeader));
        if (headers && method == Method::kPost) {
            curl_slist* more = curl_slist_append(headers.get(), devod::kFormHeader);
            if (more == nullptr) headers.reset();
        }
        if (!headers) throw InternetError("cannot prepare an internet request");
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        if (method == Method::kPost) {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(form_body->size()));
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, form_body->data());
        }

        CURLcode result = curl_easy_perform(c);
        if (transfer.failure) std::rethrow_exception(transfer.failure);
        if (transfer.too_slow) throw InternetError(transfer.SlowText(), result);
        if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && transfer.stopped)) {
            // The error buffer may be empty on a failure (and is not cleared on success).
            std::string text = error_text[0] != '\0' ? error_text : curl_easy_strerror(result);
            throw InternetError(text, result);
        }
        transfer.TellStatus(false);  // an answer without a body
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    long Get(const std::string& path, devod::Receiver& receiver) {
        return Request(Method::kGet, endpoint.host, path, nullptr, receiver);
    }

    long Post(const std::string& path, const std::string& body) {
        devod::Discard discard;
        return Request(Method::kPost, endpoint.host, path, &body, discard);
    }
};

namespace {

void GlobalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (result != CURLE_OK) throw InternetError(curl_easy_strerror(result), result);
}

std::string BodyCutShort(uint64_t got, long long announced) {
    return "The answer was cut short: " + std::to_string(got) + " of the " +
           std::to_string(announced) + " bytes announced arrived";
}

// Keeps the body of a 200 answer, up to the size a page may have.
class PageReceiver : public devod::Receiver {
public:
    void OnStatus(long status, long long length) override {
        keep_ = status == 200;
        length_ = length;
        if (keep_ && length > static_cast<long long>(devod::kMaxPageBytes)) TooLarge();
    }
    bool OnChunk(const char* data, size_t size) override {
        if (!keep_) return skip_.OnChunk(data, size);
        if (body_.size() + size > devod::kMaxPageBytes) TooLarge();
        body_.append(data, size);
        return true;
    }
    // After a transfer without an error: the library checks the Content-Length itself, this is
    // the last word on it.
    void CheckComplete() const {
        if (keep_ && length_ >= 0 && body_.size() != static_cast<uint64_t>(length_)) {
            throw InternetError(BodyCutShort(body_.size(), length_));
        }
    }
    std::string& body() { return body_; }

private:
    [[noreturn]] static void TooLarge() {
        throw InternetError("Page larger than " + std::to_string(devod::kMaxPageBytes) + " bytes");
    }

    bool keep_ = false;
    long long length_ = -1;
    std::string body_;
    devod::Discard skip_;
};

// Streams the body of a 200 answer into "<local name>.part" and puts that in place of the local
// file once the whole body is in. The destructor removes a ".part" file that was not put in
// place, whatever ended the download.
class FileReceiver : public devod::Receiver {
public:
    FileReceiver(const std::string& local_name, uint64_t max_bytes)
        : name_(local_name), part_(local_name + ".part"), max_bytes_(max_bytes) {}
    ~FileReceiver() override {
        if (fd_ >= 0) ::close(fd_);
        if (created_ && !placed_) ::unlink(part_.c_str());
    }

    void OnStatus(long status, long long length) override {
        if (status != 200) return;
        if (length >= 0 && static_cast<uint64_t>(length) > max_bytes_) {
            throw InternetError("The file of " + std::to_string(length) +
                                " bytes is larger than the " + std::to_string(max_bytes_) +
                                " bytes a database may have");
        }
        length_ = length;
        fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) Fail("cannot create", part_, errno);
        created_ = true;
    }

    bool OnChunk(const char* data, size_t size) override {
        if (fd_ < 0) return skip_.OnChunk(data, size);
        uint64_t bound = length_ >= 0 ? static_cast<uint64_t>(length_) : max_bytes_;
        if (written_ + size > bound) {
            throw InternetError(length_ >= 0
                                    ? "The answer is longer than the " + std::to_string(length_) +
                                          " bytes announced"
                                    : "The file is larger than the " + std::to_string(max_bytes_) +
                                          " bytes a database may have");
        }
        while (size > 0) {
            ssize_t written = ::write(fd_, data, size);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) Fail("cannot write", part_, written < 0 ? errno : ENOSPC);
            data += written;
            size -= static_cast<size_t>(written);
            written_ += static_cast<uint64_t>(written);
        }
        return true;
    }

    // After a transfer without an error: puts a complete, non-empty body in place of the local
    // file. False when there is nothing to put there (another status, an empty body). Throws
    // InternetError for a body shorter than announced, FileError when the file cannot be
    // finished or put in place.
    bool Place() {
        if (!created_) return false;
        int fd = std::exchange(fd_, -1);
        // On disk before it replaces the old file, so that a crash leaves one or the other.
        if (::fsync(fd) != 0 && errno != EINVAL) {
            int error = errno;
            ::close(fd);
            Fail("cannot write", part_, error);
        }
        if (::close(fd) != 0) Fail("cannot write", part_, errno);
        if (length_ >= 0 && written_ != static_cast<uint64_t>(length_)) {
            throw InternetError(BodyCutShort(written_, length_));
        }
        if (written_ == 0) return false;  // not a database; the old file stays
        devod::PlaceDownloadedFile(part_, name_);
        placed_ = true;
        return true;
    }

private:
    [[noreturn]] static void Fail(const char* what, const std::string& name, int error) {
        throw FileError(std::string(what) + " \"" + name + "\": " + devod::SystemReason(error));
    }

    std::string name_;
    std::string part_;
    uint64_t max_bytes_;
    long long length_ = -1;
    int fd_ = -1;
    bool created_ = false;
    bool placed_ = false;
    uint64_t written_ = 0;
    devod::Discard skip_;
};

}  // namespace

void CHttpClient::SetTimeouts(const devod::HttpTimeouts& timeouts) {
    devod::g_connect_seconds = std::max(1L, timeouts.connect_seconds);
    devod::g_stall_seconds = std::max(1L, timeouts.stall_seconds);
    devod::g_stall_rate = std::max(1L, timeouts.stall_bytes_per_second);
    devod::g_grace_seconds = std::max(1L, timeouts.grace_seconds);
    devod::g_average_rate = std::max(1L, timeouts.average_bytes_per_second);
}

devod::HttpTimeouts CHttpClient::Timeouts() {
    return {devod::g_connect_seconds.load(), devod::g_stall_seconds.load(),
            devod::g_stall_rate.load(), devod::g_grace_seconds.load(),
            devod::g_average_rate.load()};
}

void CHttpClient::SetMaxDownloadBytes(uint64_t bytes) { devod::g_max_download = bytes; }

CHttpClient::CHttpClient() : session_(std::make_unique<Session>()) {
    GlobalInit();
    session_->share = curl_share_init();
    if (session_->share == nullptr) throw InternetError("cannot start an internet session");
    for (curl_lock_data data :
         {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_CONNECT}) {
        if (curl_share_setopt(session_->share, CURLSHOPT_SHARE, data) != CURLSHE_OK) {
            throw InternetError("cannot start an internet session");
        }
    }
}

CHttpClient::~CHttpClient() = default;

bool CHttpClient::Login(const std::string& email, const std::string& password) {
    devod::Discard ignored;
    session_->Get("/kvshop/customer.php?xCmd=logout", ignored);
    std::string body = "xEmailAddress=" + devod::EncodeFormValue(email) +
                       "&xCustPassword=" + devod::EncodeFormValue(password) + "&submit=Login";
    return session_->Post("/kvshop/customer.php?xCmd=login", body) == 200;
}

std::string CHttpClient::GetPage(const std::string& path) {
    PageReceiver page;
    try {
        session_->Get(path, page);
        page.CheckComplete();
    } catch (const InternetError& error) {
        devod::PrintFailure(error);
        return {};
    }
    return std::move(page.body());
}

devod::LinkList CHttpClient::GetLinks(const std::string& path) {
    return devod::ExtractLinks(GetPage(path));
}

std::string CHttpClient::FindLink(const devod::LinkList& links, const std::string& name) {
    for (const devod::LinkEntry& entry : links) {
        if (entry.text == name) return entry.href;
    }
    return {};
}

bool CHttpClient::DownloadUrl(const std::string& link, const std::string& local_name) {
    std::string host;
    std::string path;
    if (!devod::SplitDownloadLink(link, &host, &path)) return false;
    return DownloadFile(host, path, local_name);
}

bool CHttpClient::DownloadFile(const std::string& host, const std::string& path,
                               const std::string& local_name) {
    FileReceiver file(local_name, devod::g_max_download.load());
    try {
        session_->Request(Session::Method::kGet, host, path, nullptr, file);
        return file.Place();
    } catch (const InternetError& error) {
        devod::PrintFailure(error);
        return false;
    }
}

bool CHttpClient::SendLog(const std::string& email, const std::string& chosen_db,
                          const std::string& result) {
    std::string body = "email=" + devod::EncodeFormValue(email) +
                       "&chosendb=" + devod::EncodeFormValue(chosen_db) +
                       "&version=030313&result=" + devod::EncodeFormValue(result) + "&key=RAZIZ";
    return session_->Post("/z31updatelogs/logger.php", body) == 200;
}
