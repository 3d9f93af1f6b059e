// Z31 web shop stand-in: a small HTTP server on 127.0.0.1 with the maker's customer login,
// database catalogue, database downloads and the update log, plus fault knobs for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace z31sim {

struct ShopAccount {
    std::string email;
    std::string password;
};

// One downloadable database: listed on the catalogue as `name`, served as /kvdb/<file>.hdr.
struct ShopDatabase {
    std::string name;        // link text; not empty, none of < > & "
    std::string file;        // file name without ".hdr": letters, digits, '.', '_', '-'
    std::size_t size = 0;    // bytes; 1 or more
    std::uint32_t seed = 0;  // content is MakeDatabaseFile(size, seed)
};

std::vector<ShopDatabase> DefaultShopDatabases();
// The databases for devices on a serial port, listed on the second catalogue and served as
// /kvdb/<file>.mob.
std::vector<ShopDatabase> DefaultSerialShopDatabases();

// Invalid values make Shop's constructor throw std::invalid_argument.
struct ShopConfig {
    int port = 0;                           // 0: the system picks a free port
    std::string public_host = "127.0.0.1";  // host name in database links, without a port
    std::vector<ShopAccount> accounts = {{"owner@example.com", "secret"}};
    std::vector<ShopDatabase> databases = DefaultShopDatabases();
    std::vector<ShopDatabase> serial_databases = DefaultSerialShopDatabases();
    std::string cookie_name = "PHPSESSID";
    std::string log_file;  // when set, each update log body is appended to it as one line
    // Product rows added to the logged-in catalogue after the databases (a picture, nested divs,
    // a form; no database), to give it the size of a real shop page: about 780 bytes each. At most
    // kMaxProductRows.
    std::size_t product_rows = 0;
};

inline constexpr std::size_t kMaxProductRows = 100000;

// The bytes of a database file: byte 0 is '$', bytes 0..19 the opening message, bytes 20..1023
// the header, then the body. The same size and seed always give the same bytes; a size under
// 1024 gives the first `size` bytes of the pattern. Throws std::invalid_argument for size 0.
std::string MakeDatabaseFile(std::size_t size, std::uint32_t seed);

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the shop received it.
struct ShopRequest {
    std::string method;
    std::string target;   // path and query, as sent
    std::string version;  // e.g. "HTTP/1.0"
    HeaderList headers;   // as sent, in order
    std::string cookie;   // value of the Cookie header, "" when none
    std::string body;
    int status = 0;  // status answered; 0 when the connection stalled or was reset

    // Value of the first header called `name` (any case), "" when none.
    std::string Header(std::string_view name) const;
};

struct LoginAttempt {
    std::string raw_body;
    std::string email;     // decoded
    std::string password;  // decoded
    bool accepted = false;
};

// One POST to /z31updatelogs/logger.php.
struct LogRecord {
    std::string raw_body;
    HeaderList fields;  // every decoded field, in body order
    std::string email;
    std::string chosendb;
    std::string version;
    std::string result;
    std::string key;
};

// One anchor of the logged-in catalogue page, in page order.
struct CatalogueLink {
    std::string text;  // the anchor's text without surrounding blanks, as written; "" for an image
    std::string href;  // "" for an anchor without href
    bool database = false;  // a link to a database file of this shop
};

// Request targets the shop serves.
inline constexpr char kLoginPath[] = "/kvshop/customer.php?xCmd=login";
inline constexpr char kLogoutPath[] = "/kvshop/customer.php?xCmd=logout";
inline constexpr char kForgottenPasswordPath[] = "/kvshop/customer.php?xCmd=fpshow";
inline constexpr char kCataloguePath[] = "/kvshop/section.php?xSec=374";
inline constexpr char kSerialCataloguePath[] = "/kvshop/section.php?xSec=379";  // ".mob" files
inline constexpr char kUpdateLogPath[] = "/z31updatelogs/logger.php";
inline constexpr char kDatabaseDir[] = "/kvdb/";  // + <file>.hdr, or <file>.mob

// Fault knobs take a path: a full request target ("/kvshop/customer.php?xCmd=login"), a bare
// path ("/kvshop/customer.php") or kAllPaths. For one request a knob set for its full target
// wins over one set for its bare path, which wins over one set for kAllPaths.
inline constexpr char kAllPaths[] = "";

// The shop, serving on its own thread from construction to destruction. Every method may be
// called at any time from any thread.
class Shop {
public:
    // Binds 127.0.0.1:<port> and starts serving. Throws std::invalid_argument for a bad
    // configuration and std::runtime_error when the port cannot be bound.
    explicit Shop(ShopConfig cfg = {});
    // Stops the server: every connection is closed, stalled ones included.
    ~Shop();
    Shop(const Shop&) = delete;
    Shop& operator=(const Shop&) = delete;

    int Port() const;
    std::string BaseUrl() const;  // "http://127.0.0.1:<port>"
    const ShopConfig& Config() const;

    // Catalogue contents, exactly as served; with `serial`, those of the ".mob" catalogue.
    std::string CataloguePage(bool logged_in, bool serial = false) const;
    // Anchors of the logged-in page.
    std::vector<CatalogueLink> CatalogueLinks(bool serial = false) const;
    // http://<public_host>/kvdb/<file>.hdr, or .mob
    std::string DatabaseHref(const ShopDatabase& db, bool serial = false) const;
    // "" for an unknown file
    std::string DatabaseBytes(const std::string& file, bool serial = false) const;

    // Observations.
    std::vector<ShopRequest> Requests() const;
    std::vector<LoginAttempt> LoginAttempts() const;
    std::vector<LogRecord> LogRecords() const;
    bool IsSessionValid(const std::string& token) const;
    std::size_t SessionCount() const;
    std::size_t AcceptedConnections() const;  // since construction
    std::size_t OpenConnections() const;
    void ClearRecords();  // requests, login attempts and log records

    // Fault knobs; each change applies to requests read afterwards. A stalled or reset request
    // is recorded but not acted on; a delayed or truncated one is.
    // Answers with `status` and a short HTML page instead of the usual handling (no session is
    // made or ended, nothing is logged). 0 clears; throws std::invalid_argument unless 0 or
    // 100..999.
    void SetStatus(const std::string& path, int status);
    // Declares the full Content-Length but sends only the first `body_bytes` body bytes, then
    // closes the connection.
    void SetTruncate(const std::string& path, std::size_t body_bytes);
    void ClearTruncate(const std::string& path);
    // Reads the request, then sends nothing and keeps the connection open until the knob is
    // cleared (the connection is then closed) or the shop goes down or stops.
    void SetStall(const std::string& path, bool on);
    // Closes the connection with a reset (RST) right after reading the request.
    void SetReset(const std::string& path, bool on);
    // Waits this long before answering. 0 clears; throws std::invalid_argument if negative.
    void SetDelayMs(const std::string& path, int ms);
    // Handles the request as usual (a login still makes its session and sets its cookie, a log
    // is still recorded), then answers `status` with "Location: <location>" and a short page
    // instead of the usual status and body; SetStatus for the same request wins. The location is
    // sent as given: a path, an absolute address, any scheme. An empty location clears; throws
    // std::invalid_argument unless the status is 300..399 and the location has no line break.
    void SetRedirect(const std::string& path, const std::string& location, int status = 302);
    // Handles the request as usual, then sends the whole answer, head included, one byte every
    // `ms` milliseconds. 0 clears; throws std::invalid_argument if negative.
    void SetDripMs(const std::string& path, int ms);
    // Answers 200 without a Content-Length and with a body that never ends (until the client
    // goes or the shop stops), instead of the usual handling: no session is made or ended,
    // nothing is logged. SetStatus for the same request wins.
    void SetEndlessBody(const std::string& path, bool on);
    void ClearFaults();  // every knob above, for every path

    // Down: the port is closed (connections are refused) and every open connection is closed.
    // Up: listens again on the same port; throws std::runtime_error if it cannot be bound.
    void GoDown();
    void GoUp();
    bool IsUp() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace z31sim
