#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>

#include "sim/shop/catalogue.h"
#include "sim/shop/form.h"
#include "sim/shop/http_server.h"
#include "sim/shop/z31shop.h"

namespace z31sim {
namespace {

bool IsTokenText(std::string_view s, std::string_view extra) {
    if (s.empty()) return false;
    for (char c : s) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && extra.find(c) == std::string_view::npos) return false;
    }
    return true;
}

void Validate(const ShopConfig& cfg) {
    auto fail = [](const std::string& what) { throw std::invalid_argument("shop: " + what); };
    if (cfg.port < 0 || cfg.port > 65535) fail("port out of range");
    if (!IsTokenText(cfg.public_host, ".-_[]:")) fail("bad public host '" + cfg.public_host + "'");
    if (!IsTokenText(cfg.cookie_name, "_-")) fail("bad cookie name '" + cfg.cookie_name + "'");
    for (const auto* list : {&cfg.databases, &cfg.serial_databases}) {
        std::set<std::string> files;
        for (const ShopDatabase& db : *list) {
            if (db.name.empty() || db.name.find_first_of("<>&\"\r\n") != std::string::npos ||
                Trim(db.name) != db.name) {
                fail("bad database name '" + db.name + "'");
            }
            if (!IsTokenText(db.file, "._-")) fail("bad database file '" + db.file + "'");
            if (!files.insert(db.file).second) fail("database file '" + db.file + "' twice");
            if (db.size == 0) fail("database '" + db.file + "' is empty");
        }
    }
    if (cfg.product_rows > kMaxProductRows) fail("too many product rows");
}

struct Redirect {
    std::string location;
    int status = 302;
};

// The knob set for `target`: its full target, else its bare path, else every path.
template <typename Map>
auto FindKnob(const Map& knobs, const std::string& target) -> decltype(knobs.find(target)) {
    auto it = knobs.find(target);
    if (it != knobs.end()) return it;
    std::size_t q = target.find('?');
    if (q != std::string::npos && (it = knobs.find(target.substr(0, q))) != knobs.end()) return it;
    return knobs.find(kAllPaths);
}

}  // namespace

std::string ShopRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return "";
}

struct Shop::Impl {
    explicit Impl(ShopConfig c) : cfg(std::move(c)) {
        Validate(cfg);
        for (const ShopDatabase& db : cfg.databases)
            files[db.file] = MakeDatabaseFile(db.size, db.seed);
        for (const ShopDatabase& db : cfg.serial_databases)
            serial_files[db.file] = MakeDatabaseFile(db.size, db.seed);
        guest_page = BuildCatalogue(cfg, false).html;
        member_page = BuildCatalogue(cfg, true);
        member_serial_page = BuildCatalogue(cfg, true, /*serial=*/true);
        rng.seed(std::random_device{}());
        server = std::make_unique<HttpServer>(
            cfg.port, [this](const HttpRequest& req) { return Handle(req); },
            [this](const HttpRequest& req) {
                std::lock_guard lock(mu);
                return FindKnob(stall, req.target) != stall.end();
            });
    }

    HttpResponse Handle(const HttpRequest& req);
    HttpResponse Route(const HttpRequest& req, const std::string& cookie);
    std::string NewToken();
    void Changed() { server->Wake(); }
    // Sets a knob for a path, or clears it with no value, and lets the server see the change.
    template <typename T>
    void SetKnob(std::map<std::string, T>& knob, const std::string& path, std::optional<T> value) {
        {
            std::lock_guard lock(mu);
            if (value) {
                knob[path] = *value;
            } else {
                knob.erase(path);
            }
        }
        Changed();
    }

    const ShopConfig cfg;
    std::map<std::string, std::string> files;         // file name -> bytes (".hdr")
    std::map<std::string, std::string> serial_files;  // file name -> bytes (".mob")
    std::string guest_page;
    CataloguePageParts member_page;
    CataloguePageParts member_serial_page;

    mutable std::mutex mu;
    std::mt19937_64 rng;
    std::map<std::string, std::string> sessions;  // token -> e-mail
    std::vector<ShopRequest> requests;
    std::vector<LoginAttempt> logins;
    std::vector<LogRecord> log_records;
    std::map<std::string, int> status;
    std::map<std::string, std::size_t> truncate;
    std::map<std::string, bool> stall;
    std::map<std::string, bool> reset;
    std::map<std::string, int> delay;
    std::map<std::string, Redirect> redirect;
    std::map<std::string, int> drip;
    std::map<std::string, bool> endless;

    std::unique_ptr<HttpServer> server;  // last: stops before the rest goes
};

std::string Shop::Impl::NewToken() {
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(rng()),
                  static_cast<unsigned long long>(rng()));
    return text;
}

HttpResponse Shop::Impl::Handle(const HttpRequest& req) {
    ShopRequest record{req.method,  req.target,           req.version,
                       req.headers, req.Header("Cookie"), req.body};
    std::lock_guard lock(mu);
    HttpResponse resp;
    if (FindKnob(stall, req.target) != stall.end()) {
        resp.stall = true;
    } else if (FindKnob(reset, req.target) != reset.end()) {
        resp.reset = true;
    } else {
        if (auto it = FindKnob(status, req.target); it != status.end()) {
            resp.status = it->second;
            resp.body = StatusPage(it->second);
        } else if (FindKnob(endless, req.target) != endless.end()) {
            resp.content_type = "application/octet-stream";
            resp.endless = true;
        } else {
            resp = Route(req, record.cookie);
            if (auto it = FindKnob(redirect, req.target); it != redirect.end()) {
                resp.status = it->second.status;
                resp.content_type = "text/html; charset=utf-8";
                resp.body = RedirectPage(it->second.location);
                resp.extra_headers.emplace_back("Location", it->second.location);
            }
        }
        if (auto it = FindKnob(truncate, req.target); it != truncate.end()) {
            resp.truncate_at = it->second;
        }
        if (auto it = FindKnob(delay, req.target); it != delay.end()) resp.delay_ms = it->second;
        if (auto it = FindKnob(drip, req.target); it != drip.end()) resp.drip_ms = it->second;
        record.status = resp.status;
    }
    requests.push_back(std::move(record));
    return resp;
}

HttpResponse Shop::Impl::Route(const HttpRequest& req, const std::string& cookie) {
    HttpResponse resp;
    const std::string& t = req.target;
    std::string token = CookieValue(cookie, cfg.cookie_name);
    bool get = req.method == "GET";
    bool post = req.method == "POST";
    if (get && t == kLogoutPath) {
        sessions.erase(token);
        resp.extra_headers.emplace_back(
            "Set-Cookie",
            cfg.cookie_name + "=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/");
        resp.body = LogoutPage();
    } else if (post && t == kLoginPath) {
        HeaderList form = ParseForm(req.body);
        LoginAttempt attempt{req.body, FormValue(form, "xEmailAddress"),
                             FormValue(form, "xCustPassword"), false};
        for (const ShopAccount& account : cfg.accounts) {
            if (account.email == attempt.email && account.password == attempt.password) {
                attempt.accepted = true;
            }
        }
        if (attempt.accepted) {
            std::string fresh = NewToken();
            sessions[fresh] = attempt.email;
            resp.extra_headers.emplace_back("Set-Cookie",
                                            cfg.cookie_name + "=" + fresh + "; path=/");
            resp.body = LoginOkPage(attempt.email);
        } else {
            resp.body = LoginFailedPage();
        }
        logins.push_back(std::move(attempt));
    } else if (get && (t == kCataloguePath || t == kSerialCataloguePath)) {
        bool member = !token.empty() && sessions.count(token) > 0;
        const CataloguePageParts& page = t == kCataloguePath ? member_page : member_serial_page;
        resp.body = member ? page.html : guest_page;
    } else if (get && t == kForgottenPasswordPath) {
        resp.body = ForgottenPasswordPage();
    } else if (post && t == kUpdateLogPath) {
        LogRecord rec;
        rec.raw_body = req.body;
        rec.fields = ParseForm(req.body);
        rec.email = FormValue(rec.fields, "email");
        rec.chosendb = FormValue(rec.fields, "chosendb");
        rec.version = FormValue(rec.fields, "version");
        rec.result = FormValue(rec.fields, "result");
        rec.key = FormValue(rec.fields, "key");
        log_records.push_back(std::move(rec));
        if (!cfg.log_file.empty()) {
            std::ofstream out(cfg.log_file, std::ios::app);
            out << req.body << '\n';
        }
        resp.content_type = "text/plain";
        resp.body = "OK\n";
    } else if (get && t.starts_with(kDatabaseDir) && (t.ends_with(".hdr") || t.ends_with(".mob"))) {
        std::string name =
            t.substr(sizeof kDatabaseDir - 1, t.size() - (sizeof kDatabaseDir - 1) - 4);
        const auto& served = t.ends_with(".hdr") ? files : serial_files;
        auto it = served.find(name);
        if (it == served.end()) {
            resp.status = 404;
            resp.body = StatusPage(404);
        } else {
            resp.content_type = "application/octet-stream";
            resp.body = it->second;
        }
    } else {
        resp.status = 404;
        resp.body = StatusPage(404);
    }
    return resp;
}

Shop::Shop(ShopConfig cfg) : impl_(std::make_unique<Impl>(std::move(cfg))) {}
Shop::~Shop() = default;

int Shop::Port() const { return impl_->server->Port(); }
std::string Shop::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(Port()); }
const ShopConfig& Shop::Config() const { return impl_->cfg; }

std::string Shop::CataloguePage(bool logged_in, bool serial) const {
    if (!logged_in) return impl_->guest_page;
    return serial ? impl_->member_serial_page.html : impl_->member_page.html;
}
std::vector<CatalogueLink> Shop::CatalogueLinks(bool serial) const {
    return serial ? impl_->member_serial_page.links : impl_->member_page.links;
}
std::string Shop::DatabaseHref(const ShopDatabase& db, bool serial) const {
    return DatabaseHrefFor(impl_->cfg.public_host, db, serial);
}
std::string Shop::DatabaseBytes(const std::string& file, bool serial) const {
    const auto& served = serial ? impl_->serial_files : impl_->files;
    auto it = served.find(file);
    return it == served.end() ? "" : it->second;
}

std::vector<ShopRequest> Shop::Requests() const {
    std::lock_guard lock(impl_->mu);
    return impl_->requests;
}
std::vector<LoginAttempt> Shop::LoginAttempts() const {
    std::lock_guard lock(impl_->mu);
    return impl_->logins;
}
std::vector<LogRecord> Shop::LogRecords() const {
    std::lock_guard lock(impl_->mu);
    return impl_->log_records;
}
bool Shop::IsSessionValid(const std::string& token) const {
    std::lock_guard lock(impl_->mu);
    return impl_->sessions.count(token) > 0;
}
std::size_t Shop::SessionCount() const {
    std::lock_guard lock(impl_->mu);
    return impl_->sessions.size();
}
std::size_t Shop::AcceptedConnections() const { return impl_->server->AcceptedConnections(); }
std::size_t Shop::OpenConnections() const { return impl_->server->OpenConnections(); }
void Shop::ClearRecords() {
    std::lock_guard lock(impl_->mu);
    impl_->requests.clear();
    impl_->logins.clear();
    impl_->log_records.clear();
}

void Shop::SetStatus(const std::string& path, int status) {
    if (status != 0 && (status < 100 || status > 999)) {
        throw std::invalid_argument("shop: bad status " + std::to_string(status));
    }
    impl_->SetKnob(impl_->status, path, status != 0 ? std::optional(status) : std::nullopt);
}
void Shop::SetTruncate(const std::string& path, std::size_t body_bytes) {
    impl_->SetKnob(impl_->truncate, path, std::optional(body_bytes));
}
void Shop::ClearTruncate(const std::string& path) {
    impl_->SetKnob<std::size_t>(impl_->truncate, path, std::nullopt);
}
void Shop::SetStall(const std::string& path, bool on) {
    impl_->SetKnob(impl_->stall, path, on ? std::optional(true) : std::nullopt);
}
void Shop::SetReset(const std::string& path, bool on) {
    impl_->SetKnob(impl_->reset, path, on ? std::optional(true) : std::nullopt);
}
void Shop::SetDelayMs(const std::string& path, int ms) {
    if (ms < 0) throw std::invalid_argument("shop: negative delay");
    impl_->SetKnob(impl_->delay, path, ms != 0 ? std::optional(ms) : std::nullopt);
}
void Shop::SetRedirect(const std::string& path, const std::string& location, int status) {
    if (status < 300 || status > 399) {
        throw std::invalid_argument("shop: bad redirect status " + std::to_string(status));
    }
    if (location.find_first_of("\r\n") != std::string::npos) {
        throw std::invalid_argument("shop: line break in a redirect location");
    }
    impl_->SetKnob(impl_->redirect, path,
                   location.empty() ? std::nullopt : std::optional(Redirect{location, status}));
}
void Shop::SetDripMs(const std::string& path, int ms) {
    if (ms < 0) throw std::invalid_argument("shop: negative drip interval");
    impl_->SetKnob(impl_->drip, path, ms != 0 ? std::optional(ms) : std::nullopt);
}
void Shop::SetEndlessBody(const std::string& path, bool on) {
    impl_->SetKnob(impl_->endless, path, on ? std::optional(true) : std::nullopt);
}
void Shop::ClearFaults() {
    {
        std::lock_guard lock(impl_->mu);
        impl_->status.clear();
        impl_->truncate.clear();
        impl_->stall.clear();
        impl_->reset.clear();
        impl_->delay.clear();
        impl_->redirect.clear();
        impl_->drip.clear();
        impl_->endless.clear();
    }
    impl_->Changed();
}

void Shop::GoDown() { impl_->server->SetListening(false); }
void Shop::GoUp() { impl_->server->SetListening(true); }
bool Shop::IsUp() const { return impl_->server->IsListening(); }

}  // namespace z31sim
