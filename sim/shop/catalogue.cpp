#include "sim/shop/catalogue.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "sim/shop/http_server.h"

namespace z31sim {
namespace {

constexpr std::size_t kHeaderEnd = 1024;  // the body starts here

std::string PageHead(std::string_view title) {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Z31 shop - " +
           std::string(title) + "</title>\n</head>\n<body>\n";
}

const char kPageTail[] = "</body>\n</html>\n";

// Builds a page and the list of its anchors side by side, so that the list cannot drift.
class PageWriter {
public:
    void Text(std::string_view s) { html_ += s; }
    // Writes `open` + `inner` + `close`; the link's text is `inner` without surrounding blanks.
    void Anchor(std::string_view open, std::string_view inner, std::string_view close,
                std::string href, bool database = false) {
        html_ += open;
        html_ += inner;
        html_ += close;
        bool image = inner.starts_with("<img");
        links_.push_back({image ? "" : std::string(Trim(inner)), std::move(href), database});
    }
    CataloguePageParts Take() { return {std::move(html_), std::move(links_)}; }

private:
    static std::string_view Trim(std::string_view s) {
        std::size_t first = s.find_first_not_of(" \t\r\n");
        if (first == std::string_view::npos) return {};
        return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
    }
    std::string html_;
    std::vector<CatalogueLink> links_;
};

void DatabaseRow(PageWriter& page, const ShopDatabase& db, const std::string& href, int style) {
    page.Text("<tr><td>");
    switch (style) {
        case 0:  // text on its own line with blanks around it
            page.Anchor("<a href=\"" + href + "\">", "\n   " + db.name + "  \n", "</a>", href,
                        true);
            break;
        case 1:  // upper-case tag
            page.Anchor("<A HREF=\"" + href + "\">", db.name, "</A>", href, true);
            break;
        default:  // more attributes around the href
            page.Anchor("<a class=\"db\" title=\"Download " + db.name + "\" href=\"" + href + "\">",
                        db.name, "</a>", href, true);
            break;
    }
    page.Text("</td><td>" + std::to_string((db.size + 1023) / 1024) + "&nbsp;KB</td></tr>\n");
}

// A product of the shop's accessory range, marked up as real shop pages are: nested divs, a
// picture link, elements left unclosed (br, img, input, a paragraph) and a basket form.
void ProductRow(PageWriter& page, std::size_t n) {
    std::string id = std::to_string(n + 1);
    std::string href = "/kvshop/product.php?xProd=" + id;
    page.Text("<tr class=\"product\">\n<td class=\"pic\"><div class=\"thumb\">");
    page.Anchor("<a href=\"" + href + "\">",
                "<img src=\"/img/prod/" + id + ".jpg\" width=\"80\" height=\"60\" alt=\"Product " +
                    id + "\">",
                "</a>", href);
    page.Text("</div></td>\n<td class=\"desc\"><div class=\"name\">");
    page.Anchor("<a href=\"" + href + "\">", "Z31 windscreen mount, kit " + id, "</a>", href);
    page.Text(
        "</div>\n<div class=\"info\"><span class=\"code\">Code: ACC-" + id +
        "</span><br>\n<span class=\"stock\">In stock</span> &middot; <em>ships in 2 days</em><br>\n"
        "<p>Suction mount with a 12&nbsp;V lead and a spare pad. Fits every Z31 model; the lead "
        "plugs into the side socket.\n</div></td>\n"
        "<td class=\"price\"><div class=\"cost\"><b>&pound;" +
        std::to_string(10 + n % 40) +
        ".99</b><br>\n"
        "<form method=\"post\" action=\"/kvshop/basket.php\"><input type=\"hidden\" "
        "name=\"xProd\" value=\"" +
        id +
        "\"><input type=\"submit\" value=\"Add to basket\">"
        "</form></div></td>\n</tr>\n");
}

}  // namespace

std::string HtmlEscape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string MakeDatabaseFile(std::size_t size, std::uint32_t seed) {
    if (size == 0) throw std::invalid_argument("database size must be 1 or more");
    std::string file(std::max(size, kHeaderEnd), '\0');
    char text[64];
    std::snprintf(text, sizeof text, "$Z31DB %08X   \r\n", static_cast<unsigned>(seed));
    file.replace(0, 20, text, 20);
    int n = std::snprintf(text, sizeof text, "SIZE=%zu\r\nSEED=%u\r\n", size,
                          static_cast<unsigned>(seed));
    file.replace(20, static_cast<std::size_t>(n), text, static_cast<std::size_t>(n));
    for (std::size_t i = 20 + static_cast<std::size_t>(n); i < kHeaderEnd; ++i) {
        file[i] = static_cast<char>((seed + i * 7) & 0xFF);
    }
    std::uint32_t state = seed ^ 0x9E3779B9u;
    if (state == 0) state = 1;
    for (std::size_t i = kHeaderEnd; i < file.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        file[i] = static_cast<char>(state >> 24);
    }
    file.resize(size);
    return file;
}

std::vector<ShopDatabase> DefaultShopDatabases() {
    return {
        {"Z31 UK 2026-12", "z31uk2612", 150000, 1},
        {"Z31 Europe 2026-12", "z31eu2612", 70000, 2},
        {"Z31 UK 2026-11", "z31uk2611", 4100, 3},
    };
}

std::vector<ShopDatabase> DefaultSerialShopDatabases() {
    return {
        {"Z31 Serial UK 2026-12", "z31suk2612", 120000, 11},
        {"Z31 Serial Europe 2026-12", "z31seu2612", 60000, 12},
    };
}

std::string DatabaseHrefFor(const std::string& public_host, const ShopDatabase& db, bool serial) {
    return "http://" + public_host + kDatabaseDir + db.file + (serial ? ".mob" : ".hdr");
}

CataloguePageParts BuildCatalogue(const ShopConfig& cfg, bool logged_in, bool serial) {
    PageWriter page;
    page.Text(PageHead("Databases"));
    if (!logged_in) {
        // Guests get no anchors, nor any tag or text that begins with the letter of one.
        page.Text(
            "<!-- guests get the login form instead of the list -->\n"
            "<h1>Z31 databases</h1>\n"
            "<p>Please log in to see the databases of your device.</p>\n"
            "<form method=\"post\" action=\"" +
            std::string(kLoginPath) +
            "\">\n"
            "<p>E-mail <input type=\"text\" name=\"xEmailAddress\"></p>\n"
            "<p>Password <input type=\"password\" name=\"xCustPassword\"></p>\n"
            "<p><input type=\"submit\" name=\"submit\" value=\"Login\"></p>\n"
            "</form>\n");
        page.Text(kPageTail);
        return page.Take();
    }
    page.Text("<!-- page header -->\n<div id=\"top\">\n");
    page.Anchor("<a href=\"/kvshop/index.php\">",
                "<img src=\"/img/z31logo.gif\" width=\"120\" height=\"40\" alt=\"Z31 shop\">",
                "</a>", "/kvshop/index.php");
    page.Text("\n<p class=\"nav\">Signed in&nbsp;|&nbsp;");
    page.Anchor("<a href=\"" + std::string(kLogoutPath) + "\">", "Log out", "</a>", kLogoutPath);
    page.Text(" | ");
    page.Anchor("<a href=\"/kvshop/help.php\">", "Help", "</a>", "/kvshop/help.php");
    page.Text("</p>\n</div>\n<h1>");
    page.Anchor("<a name=\"list\">", "Z31 databases", "</a>", "");
    page.Text(
        "</h1>\n"
        "<p>Your <abbr title=\"Global Positioning System\">GPS</abbr> camera databases, updated "
        "every month.\nTerms &amp; conditions apply.</p>\n"
        "<!-- one row per database -->\n"
        "<table class=\"dbs\">\n<tr><th>Database</th><th>Size</th></tr>\n");
    const std::vector<ShopDatabase>& databases = serial ? cfg.serial_databases : cfg.databases;
    for (std::size_t i = 0; i < databases.size(); ++i) {
        const ShopDatabase& db = databases[i];
        DatabaseRow(page, db, DatabaseHrefFor(cfg.public_host, db, serial),
                    static_cast<int>(i % 3));
    }
    for (std::size_t n = 0; n < cfg.product_rows; ++n) ProductRow(page, n);
    page.Text(
        "</table>\n"
        "<p>Choose a file to download it.</p>\n"
        "<address>Z31 Customer Care<br>12 Harbour Road<br>Newtown</address>\n"
        "<p class=\"foot\">");
    page.Anchor("<a href=\"/kvshop/help.php#faq\">", "Help", "</a>", "/kvshop/help.php#faq");
    page.Text(" &nbsp;");
    page.Anchor("<a href=\"" + std::string(kForgottenPasswordPath) + "\">", "Forgotten password",
                "</a>", kForgottenPasswordPath);
    page.Text("</p>\n");
    page.Text(kPageTail);
    return page.Take();
}

std::string LoginOkPage(const std::string& email) {
    return PageHead("My account") + "<h1>Welcome back</h1>\n<p>You are logged in as " +
           HtmlEscape(email) + ".</p>\n" + kPageTail;
}

std::string LoginFailedPage() {
    return PageHead("login failed") +
           "<h1>Login failed</h1>\n<p>The e-mail address or the password is wrong: login "
           "failed.</p>\n" +
           kPageTail;
}

std::string LogoutPage() {
    return PageHead("Logged out") + "<h1>Logged out</h1>\n<p>See you soon.</p>\n" + kPageTail;
}

std::string ForgottenPasswordPage() {
    return PageHead("Forgotten password") +
           "<h1>Forgotten password</h1>\n<p>Enter the e-mail address of your account and we "
           "will send you a new password.</p>\n"
           "<form method=\"post\" action=\"/kvshop/customer.php?xCmd=fpsend\">\n"
           "<p>E-mail <input type=\"text\" name=\"xEmailAddress\"></p>\n"
           "<p><input type=\"submit\" name=\"submit\" value=\"Send\"></p>\n</form>\n" +
           kPageTail;
}

std::string StatusPage(int status) {
    return PageHead(std::to_string(status)) + "<h1>" + std::to_string(status) + " " +
           ReasonPhrase(status) + "</h1>\n" + kPageTail;
}

std::string RedirectPage(const std::string& location) {
    return PageHead("Moved") + "<h1>Moved</h1>\n<p>This page is now <a href=\"" +
           HtmlEscape(location) + "\">here</a>.</p>\n" + kPageTail;
}

}  // namespace z31sim
