#include "orvixtool/web/http_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <utility>

#include "orvixtool/web/link_extractor.h"
#include "orvixtool/web/web_config.h"

namespace devod {
namespace {

constexpr size_t kChunkBytes = 1024;
constexpr const char* kFormHeader = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kKeepAliveHeader = "Connection: keep-alive";
constexpr const char* kUserAgent = "DevodTool";
// A body nobody reads is skipped up to this size, then the transfer is dropped.
constexpr size_t kUnreadBodyLimit = 1024 * 1024;

std::atomic<long> g_connect_seconds{HttpTimeouts{}.connect_seconds};
std::atomic<long> g_stall_seconds{HttpTimeouts{}.stall_seconds};

// What a request does with the answer.
class Receiver {
public:
    virtual ~Receiver() = default;
    // Once the headers of the final answer are in.
    virtual void OnStatus(long status) { (void)status; }
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

struct Transfer {
    CURL* curl;
    Receiver* receiver;
    bool status_told = false;
    bool stopped = false;
    std::exception_ptr failure;  // thrown by the receiver, rethrown after the transfer

    void TellStatus() {
        if (status_told) return;
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200) return;  // an interim answer
        status_told = true;
        receiver->OnStatus(status);
    }
};

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    std::string_view line(data, bytes);
    if (line != "\r\n" && line != "\n") return bytes;
    try {
        transfer->TellStatus();
    } catch (...) {
        transfer->failure = std::current_exception();
        return 0;
    }
    return bytes;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    try {
        transfer->TellStatus();
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

    // One request to http://host:<configured port>path. Returns the answer's status; the body
    // goes to receiver. Throws InternetError, or what the receiver threw.
    long Request(Method method, const std::string& host, const std::string& path,
                 const std::string* form_body, devod::Receiver& receiver) {
        std::unique_ptr<CURL, devod::EasyDeleter> curl(curl_easy_init());
        if (!curl) throw InternetError("cannot start an internet request");
        CURL* c = curl.get();
        char error_text[CURL_ERROR_SIZE] = {};
        std::string url = "http://" + host + ":" + std::to_string(endpoint.port) + path;
        std::string no_proxy = devod::NoProxyList();
        devod::Transfer transfer{c, &receiver, false, false, nullptr};

        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error_text);
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(c, CURLOPT_USERAGENT, devod::kUserAgent);
        curl_easy_setopt(c, CURLOPT_SHARE, share);
        curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");  // the cookie engine, also with a share
        curl_easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(devod::kChunkBytes));
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, devod::g_connect_seconds.load());
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, devod::g_stall_seconds.load());
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
        if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && transfer.stopped)) {
            // The error buffer may be empty on a failure (and is not cleared on success).
            std::string text = error_text[0] != '\0' ? error_text : curl_easy_strerror(result);
            throw InternetError(text, result);
        }
        transfer.TellStatus();  // an answer without a body
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

// Keeps the body of a 200 answer, up to the size a page may have.
class PageReceiver : public devod::Receiver {
public:
    void OnStatus(long status) override { keep_ = status == 200; }
    bool OnChunk(const char* data, size_t size) override {
        if (!keep_) return skip_.OnChunk(data, size);
        if (body_.size() + size > devod::kMaxPageBytes) {
            throw InternetError("page larger than " + std::to_string(devod::kMaxPageBytes) +
                                " bytes");
        }
        body_.append(data, size);
        return true;
    }
    std::string& body() { return body_; }

private:
    bool keep_ = false;
    std::string body_;
    devod::Discard skip_;
};

// Streams the body of a 200 answer into the local file, replacing what was there.
class FileReceiver : public devod::Receiver {
public:
    explicit FileReceiver(const std::string& local_name) : name_(local_name) {}
    ~FileReceiver() override {
        if (fd_ >= 0) ::close(fd_);
    }

    void OnStatus(long status) override {
        if (status != 200) return;
        ReplaceOldFile();
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) Fail("cannot create", errno);
    }

    bool OnChunk(const char* data, size_t size) override {
        if (fd_ < 0) return skip_.OnChunk(data, size);
        while (size > 0) {
            ssize_t written = ::write(fd_, data, size);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) Fail("cannot write", written < 0 ? errno : ENOSPC);
            data += written;
            size -= static_cast<size_t>(written);
            received_ = true;
        }
        return true;
    }

    // Closes the file; a failure to close is a failure to write.
    void Finish() {
        if (fd_ < 0) return;
        int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) Fail("cannot write", errno);
    }

    bool received() const { return received_; }

private:
    // An old file that cannot be deleted is moved aside to "DEL_<name>" (in the same folder),
    // after deleting an earlier one of those. Failures here show when the file is opened.
    void ReplaceOldFile() {
        if (::unlink(name_.c_str()) == 0) return;
        size_t slash = name_.rfind('/');
        size_t base = slash == std::string::npos ? 0 : slash + 1;
        std::string aside = name_.substr(0, base) + "DEL_" + name_.substr(base);
        ::unlink(aside.c_str());
        ::rename(name_.c_str(), aside.c_str());
    }

    [[noreturn]] void Fail(const char* what, int error) {
        throw FileError(std::string(what) + " \"" + name_ + "\": " + devod::SystemReason(error));
    }

    std::string name_;
    int fd_ = -1;
    bool received_ = false;
    devod::Discard skip_;
};

}  // namespace

void CHttpClient::SetTimeouts(const devod::HttpTimeouts& timeouts) {
    devod::g_connect_seconds = std::max(1L, timeouts.connect_seconds);
    devod::g_stall_seconds = std::max(1L, timeouts.stall_seconds);
}

devod::HttpTimeouts CHttpClient::Timeouts() {
    return {devod::g_connect_seconds.load(), devod::g_stall_seconds.load()};
}

CHttpClient::CHttpClient() : session_(std::make_unique<Session>()) {
    GlobalInit();
    session_->share = curl_share_init();
    if (session_->share == nullptr) throw InternetError("cannot start an internet session");
    for (curl_lock_data data : {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS,
                                CURL_LOCK_DATA_CONNECT}) {
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
    } catch (const InternetError& error) {
        devod::PrintFailure(error);
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
    FileReceiver file(local_name);
    try {
        session_->Request(Session::Method::kGet, host, path, nullptr, file);
    } catch (const InternetError& error) {
        devod::PrintFailure(error);
    }
    file.Finish();
    return file.received();
}

bool CHttpClient::SendLog(const std::string& email, const std::string& chosen_db,
                          const std::string& result) {
    std::string body = "email=" + devod::EncodeFormValue(email) +
                       "&chosendb=" + devod::EncodeFormValue(chosen_db) +
                       "&version=030313&result=" + devod::EncodeFormValue(result) +
                       "&key=RAZIZ";
    return session_->Post("/z31updatelogs/logger.php", body) == 200;
}
