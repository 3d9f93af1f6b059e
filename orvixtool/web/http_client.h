// The program's conversation with the maker's web shop: log in, read the catalogue page, fetch
// a database file and report the outcome of an upgrade. Plain HTTP/1.0 to the configured
// endpoint (web_config.h), cookies kept in memory for the life of the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "orvixtool/shell/command_error.h"
#include "orvixtool/web/link_entry.h"

namespace devod {

// Any failure below HTTP: no connection, a reset, a stalled or too slow transfer, a body cut
// short or larger than allowed, too many redirects or one to another kind of address. The text
// is the network library's own description, or ours for the rules below.
class InternetError : public CommandError {
public:
    explicit InternetError(const std::string& text, int code = 0)
        : CommandError(text), code_(code) {}
    int code() const { return code_; }  // the library's error code, 0 when none applies

private:
    int code_;
};

// A local file that cannot be created, written or put in place; the text names the file and
// the reason.
class FileError : public CommandError {
public:
    using CommandError::CommandError;
};

// How long a dead, stalled or dripping server is waited for. Two rules hold for every request,
// counted from its start, redirects included:
// - Stall: a transfer that moves less than stall_bytes_per_second (1 KiB/s) for stall_seconds
//   (60 s) in a row is cut; nothing arriving at all counts, so does a server that never answers.
// - Average: after the first grace_seconds (60 s), at least average_bytes_per_second (4 KiB/s,
//   about 32 kbit/s) must have arrived on average: t seconds into a request, (t - 60) x 4 KiB.
//   A transfer of N bytes therefore has at most 60 s + N / 4 KiB/s, which is the deadline of a
//   request scaled with its size: about 5 minutes for a 1 MB page, 2 hours for a 30 MB
//   database, 18 hours for the largest (kMaxDatabaseBytes); a server that drips bytes just fast
//   enough to pass the stall rule is cut within minutes.
// A line that keeps up 4 KiB/s passes both, however large the file.
struct HttpTimeouts {
    long connect_seconds = 30;
    long stall_seconds = 60;
    long stall_bytes_per_second = 1024;
    long grace_seconds = 60;
    long average_bytes_per_second = 4096;
};

// The largest database file a download accepts: 256 MiB (the shop's files are a few tens of
// MB). A larger Content-Length fails at once; without one, the download fails when the body
// passes this size.
inline constexpr std::uint64_t kMaxDatabaseBytes = 256ull * 1024 * 1024;

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

    // Time-outs used by every request from now on, by every client. Values under 1 count as 1.
    static void SetTimeouts(const devod::HttpTimeouts& timeouts);
    static devod::HttpTimeouts Timeouts();
    // The size bound of downloads without a Content-Length, and the largest one accepted, from
    // now on (for tests; kMaxDatabaseBytes unless changed).
    static void SetMaxDownloadBytes(std::uint64_t bytes);

    // Every request follows up to 10 redirects (301, 302, 303, 307, 308) to http or https
    // addresses; a 301/302/303 after a POST goes on as a GET, and cookies set on the way are
    // kept. The answer judged is the last one. More redirects, or one to another scheme (ftp,
    // file, ...), is an internet failure.

    // Logs out any earlier session, then logs in. True when the shop answers 200.
    // Throws devod::InternetError.
    bool Login(const std::string& email, const std::string& password);

    // The body of a page when the shop answers 200, else empty. A page that cannot be read whole
    // (an internet failure, a body cut short, more than devod::kMaxPageBytes announced or sent)
    // is printed ("%63s", no line end) and gives the empty string too.
    std::string GetPage(const std::string& path);
    // The links on a page (devod::ExtractLinks). Throws devod::PageError for a page the parser
    // is not trusted with.
    devod::LinkList GetLinks(const std::string& path);
    // The href of the first entry whose text is exactly name, else "".
    static std::string FindLink(const devod::LinkList& links, const std::string& name);

    // Downloads a link's target to local_name; the host comes from the link, the port is always
    // the configured one, the scheme is ignored. False for a link without host and path.
    bool DownloadUrl(const std::string& link, const std::string& local_name);
    // Streams a 200 answer's body into local_name + ".part" beside local_name, which replaces
    // local_name only when the whole body is in: as many bytes as the Content-Length announced,
    // or, without one, a body that ended cleanly within kMaxDatabaseBytes. rename() replaces an
    // old file in one step; one that cannot be replaced (a directory, say) is moved aside to
    // "DEL_" + its name first, after deleting an older one of those. True when local_name now
    // holds the file.
    // False, with local_name left as it was and the ".part" file removed, for: another status;
    // an empty body (no database); an internet failure (printed as in GetPage), a body cut
    // short, more than announced, or beyond the size bound.
    // Throws devod::FileError when the file cannot be created, written or put in place (the
    // ".part" file is removed then too).
    bool DownloadFile(const std::string& host, const std::string& path,
                      const std::string& local_name);

    // Reports an upgrade's result to the shop's log. True when the shop answers 200.
    // Throws devod::InternetError.
    bool SendLog(const std::string& email, const std::string& chosen_db, const std::string& result);

private:
    struct Session;
    std::unique_ptr<Session> session_;
};
