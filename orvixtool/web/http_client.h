// The program's conversation with the maker's web shop: log in, read the catalogue page, fetch
// a database file and report the outcome of an upgrade. Plain HTTP/1.0 to the configured
// endpoint (web_config.h), cookies kept in memory for the life of the object.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "orvixtool/web/link_entry.h"

namespace devod {

// Any failure below HTTP: no connection, a reset, a stalled transfer, a malformed address. The
// text is the network library's own description.
class InternetError : public std::runtime_error {
public:
    explicit InternetError(const std::string& text, int code = 0)
        : std::runtime_error(text), code_(code) {}
    int code() const { return code_; }  // the library's error code, 0 when none applies

private:
    int code_;
};

// A local file that cannot be created or written; the text names the file and the reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How long a dead or stalled server is waited for. There is no limit on a whole transfer, so a
// large download that keeps moving is never cut.
struct HttpTimeouts {
    long connect_seconds = 30;
    long stall_seconds = 60;  // aborts when less than 1 byte/s arrives for this long
};

// Percent-escapes every byte of a form value except A-Z a-z 0-9 - . _ ~ (a space is "%20"), so
// that the server decodes exactly what was typed.
std::string EncodeFormValue(std::string_view value);

// Splits a download link "scheme://host[:port]/path?query" into host (":port" included) and the
// path from the first '/' after the host. False when the link has no "//" or no '/' after it.
bool SplitDownloadLink(const std::string& link, std::string* host, std::string* path);

}  // namespace devod

// One upgrade run's session with the shop. Not for use by two threads at once.
class CHttpClient {
public:
    // Throws devod::InternetError when the network library cannot start a session.
    CHttpClient();
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Time-outs used by every request from now on, by every client.
    static void SetTimeouts(const devod::HttpTimeouts& timeouts);
    static devod::HttpTimeouts Timeouts();

    // Logs out any earlier session, then logs in. True when the shop answers 200.
    // Throws devod::InternetError.
    bool Login(const std::string& email, const std::string& password);

    // The body of a page when the shop answers 200, else empty. An internet failure is printed
    // ("%63s", no line end) and what had arrived is returned.
    std::string GetPage(const std::string& path);
    // The links on a page (devod::ExtractLinks). Throws devod::PageError for a page too large or
    // with too many tags to be parsed safely.
    devod::LinkList GetLinks(const std::string& path);
    // The href of the first entry whose text is exactly name, else "".
    static std::string FindLink(const devod::LinkList& links, const std::string& name);

    // Downloads a link's target to local_name; the host comes from the link, the port is always
    // the configured one, the scheme is ignored. False for a link without host and path.
    bool DownloadUrl(const std::string& link, const std::string& local_name);
    // On a 200 answer replaces local_name (an old file that cannot be deleted is renamed to
    // "DEL_" + its name) and streams the body into it. True once some of the body was written;
    // an internet failure is printed as in GetPage and ends the download with what was written.
    // Another answer leaves the local file alone and gives false.
    // Throws devod::FileError when the local file cannot be created or written.
    bool DownloadFile(const std::string& host, const std::string& path,
                      const std::string& local_name);

    // Reports an upgrade's result to the shop's log. True when the shop answers 200.
    // Throws devod::InternetError.
    bool SendLog(const std::string& email, const std::string& chosen_db,
                 const std::string& result);

private:
    struct Session;
    std::unique_ptr<Session> session_;
};
