// The shop's pages and records, reached over real connections.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "sim/shop/form.h"
#include "sim/shop/tests/http_client.h"
#include "sim/shop/z31shop.h"

namespace z31sim {
namespace {

using test::Fetch;
using test::Reply;
using ::testing::HasSubstr;

std::string LoginBody(std::string_view email, std::string_view password) {
    return "xEmailAddress=" + std::string(email) + "&xCustPassword=" + std::string(password) +
           "&submit=Login";
}

std::string CookieHeader(const std::string& token) {
    return "Cookie: lang=en; PHPSESSID=" + token + "\r\n";
}

ShopConfig TwoAccounts() {
    ShopConfig cfg;
    cfg.accounts.push_back({"me+1@example.com", "p w&d%="});
    return cfg;
}

// Every anchor of a page, found independently of the page builder.
std::vector<CatalogueLink> FindAnchors(const std::string& page) {
    static const std::regex kAnchor("<[aA]([\\s>][^>]*)>([\\s\\S]*?)</[aA]>");
    static const std::regex kHref("(?:href|HREF)=\"([^\"]*)\"");
    std::vector<CatalogueLink> found;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), kAnchor);
         it != std::sregex_iterator(); ++it) {
        std::string attributes = (*it)[1], inner = (*it)[2];
        std::smatch href;
        found.push_back({inner.starts_with("<img") ? "" : std::string(Trim(inner)),
                         std::regex_search(attributes, href, kHref) ? href[1].str() : ""});
    }
    return found;
}

class ShopTest : public ::testing::Test {
protected:
    Reply Get(std::string_view target, std::string_view headers = "") {
        return Fetch(shop_.Port(), test::GetRequest(target, headers));
    }
    Reply Post(std::string_view target, std::string_view body) {
        return Fetch(shop_.Port(), test::PostRequest(target, body));
    }
    std::string LogIn() {
        return Post(kLoginPath, LoginBody("owner%40example.com", "secret")).Cookie("PHPSESSID");
    }

    Shop shop_{TwoAccounts()};
};

TEST_F(ShopTest, LoginGivesASessionOnlyForAConfiguredAccount) {
    Reply ok = Post(kLoginPath, LoginBody("owner%40example.com", "secret"));
    EXPECT_EQ(ok.status, 200);
    EXPECT_THAT(ok.Header("Set-Cookie"), ::testing::MatchesRegex("PHPSESSID=[0-9a-f]+; path=/"));
    EXPECT_TRUE(shop_.IsSessionValid(ok.Cookie("PHPSESSID")));
    // Values are compared once decoded: '+' is a space and %XX a byte.
    Reply other = Post(kLoginPath, LoginBody("me%2B1%40example.com", "p+w%26d%25%3D"));
    EXPECT_NE(other.Cookie("PHPSESSID"), ok.Cookie("PHPSESSID"));
    EXPECT_EQ(shop_.SessionCount(), 2u);

    for (const char* email : {"owner%40example.com", "me+1%40example.com", "nobody"}) {
        Reply bad = Post(kLoginPath, LoginBody(email, "secret%20"));
        EXPECT_EQ(bad.status, 200);
        EXPECT_EQ(bad.Header("Set-Cookie"), "");
        EXPECT_THAT(bad.body, HasSubstr("login failed"));
    }
    EXPECT_EQ(shop_.SessionCount(), 2u);
    auto attempts = shop_.LoginAttempts();
    ASSERT_EQ(attempts.size(), 5u);
    EXPECT_EQ(attempts[1].raw_body, LoginBody("me%2B1%40example.com", "p+w%26d%25%3D"));
    EXPECT_EQ(attempts[1].email, "me+1@example.com");
    EXPECT_EQ(attempts[1].password, "p w&d%=");
    EXPECT_TRUE(attempts[1].accepted);
    EXPECT_EQ(attempts[3].email, "me 1@example.com");
    EXPECT_FALSE(attempts[3].accepted);
}

TEST_F(ShopTest, CatalogueWithoutSessionHasNothingThatLooksLikeALink) {
    std::string token = LogIn();
    for (const std::string& headers : {std::string(), CookieHeader("0123abcd"), CookieHeader(""),
                                       "Cookie: other=" + token + "\r\n"}) {
        Reply r = Get(kCataloguePath, headers);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, shop_.CataloguePage(false));
    }
    // No tag name and no text right after a tag starts with the anchor's letter.
    static const std::regex kLinkish("(<\\s*/?\\s*[aA])|(>[aA])");
    EXPECT_FALSE(std::regex_search(shop_.CataloguePage(false), kLinkish));
    EXPECT_THAT(shop_.CataloguePage(false), ::testing::Not(HasSubstr("/kvdb/")));
}

TEST_F(ShopTest, CatalogueWithSessionListsExactlyTheReportedLinks) {
    Reply r = Get(kCataloguePath, CookieHeader(LogIn()));
    ASSERT_EQ(r.body, shop_.CataloguePage(true));
    for (const char* piece : {"<abbr", "<address>", "<!--", "&amp;", "&nbsp;", "<A HREF=", "<img",
                              "<a name=\"list\">", "\n   Z31 UK 2026-12  \n</a>"}) {
        EXPECT_THAT(r.body, HasSubstr(piece));
    }
    std::vector<CatalogueLink> found = FindAnchors(r.body);
    std::vector<CatalogueLink> links = shop_.CatalogueLinks();
    ASSERT_EQ(found.size(), links.size());
    std::vector<std::pair<std::string, std::string>> databases;
    for (std::size_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(found[i].text, links[i].text);
        EXPECT_EQ(found[i].href, links[i].href);
        if (links[i].database) databases.emplace_back(links[i].text, links[i].href);
    }
    EXPECT_EQ(databases, (std::vector<std::pair<std::string, std::string>>{
                             {"Z31 UK 2026-12", "http://127.0.0.1/kvdb/z31uk2612.hdr"},
                             {"Z31 Europe 2026-12", "http://127.0.0.1/kvdb/z31eu2612.hdr"},
                             {"Z31 UK 2026-11", "http://127.0.0.1/kvdb/z31uk2611.hdr"}}));
}

TEST_F(ShopTest, SerialCatalogueListsMobFilesServedBesideTheHdrOnes) {
    const std::string cookie = CookieHeader(LogIn());
    Reply page = Get(kSerialCataloguePath, cookie);
    ASSERT_EQ(page.body, shop_.CataloguePage(true, /*serial=*/true));
    EXPECT_NE(page.body, shop_.CataloguePage(true));
    EXPECT_EQ(Get(kSerialCataloguePath).body, shop_.CataloguePage(false));  // guests: the form
    std::vector<std::string> hrefs;
    for (const CatalogueLink& link : FindAnchors(page.body)) {
        if (link.href.find("/kvdb/") != std::string::npos) hrefs.push_back(link.href);
    }
    EXPECT_EQ(hrefs, (std::vector<std::string>{"http://127.0.0.1/kvdb/z31suk2612.mob",
                                               "http://127.0.0.1/kvdb/z31seu2612.mob"}));
    for (const ShopDatabase& db : shop_.Config().serial_databases) {
        Reply r = Get(std::string(kDatabaseDir) + db.file + ".mob");
        ASSERT_TRUE(r.complete) << db.file;
        EXPECT_EQ(r.body, MakeDatabaseFile(db.size, db.seed));
        EXPECT_EQ(r.body, shop_.DatabaseBytes(db.file, /*serial=*/true));
        // Each file under its own extension only.
        EXPECT_EQ(Get(std::string(kDatabaseDir) + db.file + ".hdr").status, 404);
    }
    EXPECT_EQ(Get(std::string(kDatabaseDir) + "z31uk2612.mob").status, 404);
}

TEST(ShopCatalogueTest, ProductRowsMakeAPageOfRealSizeWithEveryAnchorReported) {
    ShopConfig cfg;
    cfg.product_rows = 1000;
    Shop shop(cfg);
    std::string page = shop.CataloguePage(true);
    EXPECT_GT(page.size(), 700u * 1000u);
    EXPECT_LT(page.size(), 900u * 1000u);
    std::vector<CatalogueLink> found = FindAnchors(page);
    std::vector<CatalogueLink> links = shop.CatalogueLinks();
    ASSERT_EQ(found.size(), links.size());
    std::size_t databases = 0;
    for (std::size_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(found[i].text, links[i].text) << i;
        EXPECT_EQ(found[i].href, links[i].href) << i;
        databases += links[i].database;
    }
    EXPECT_EQ(databases, 3u);
    EXPECT_EQ(links.size(), Shop().CatalogueLinks().size() + 2 * 1000);
    EXPECT_EQ(shop.CataloguePage(false), Shop().CataloguePage(false));  // guests see no products

    cfg.product_rows = kMaxProductRows + 1;
    EXPECT_THROW(Shop{cfg}, std::invalid_argument);
}

TEST_F(ShopTest, LogoutEndsTheSessionOfTheCookieSent) {
    std::string token = LogIn();
    std::string other = LogIn();
    Reply r = Get(kLogoutPath, CookieHeader(token));
    EXPECT_EQ(r.status, 200);
    EXPECT_THAT(r.Header("Set-Cookie"), HasSubstr("expires=Thu, 01 Jan 1970"));
    EXPECT_FALSE(shop_.IsSessionValid(token));
    EXPECT_EQ(Get(kCataloguePath, CookieHeader(token)).body, shop_.CataloguePage(false));
    EXPECT_EQ(Get(kCataloguePath, CookieHeader(other)).body, shop_.CataloguePage(true));
    EXPECT_EQ(Get(kLogoutPath).status, 200);
}

TEST_F(ShopTest, ServesDeterministicDatabaseFiles) {
    for (const ShopDatabase& db : shop_.Config().databases) {
        Reply r = Get(std::string(kDatabaseDir) + db.file + ".hdr");
        ASSERT_TRUE(r.complete) << db.file;
        EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
        EXPECT_EQ(r.body.size(), db.size);
        EXPECT_EQ(r.body, MakeDatabaseFile(db.size, db.seed));
        EXPECT_EQ(r.body[0], '$');
    }
    std::string file = MakeDatabaseFile(5000, 42);
    EXPECT_EQ(file.substr(0, 30), "$Z31DB 0000002A   \r\nSIZE=5000\r");
    EXPECT_NE(file.substr(1024), MakeDatabaseFile(5000, 43).substr(1024));
    EXPECT_EQ(MakeDatabaseFile(10, 42), file.substr(0, 10));
    EXPECT_THROW(MakeDatabaseFile(0, 1), std::invalid_argument);
}

TEST_F(ShopTest, UpdateLogRecordsArriveInOrderDecoded) {
    const std::string bodies[] = {
        "email=owner%40example.com&chosendb=Z31+UK+2026-12&version=030313&result=OK&key=RAZIZ",
        "email=x&chosendb=Z31+UK+2026-11&version=030313&result=Fail%3A+7&key=RAZIZ"};
    for (const std::string& body : bodies) EXPECT_EQ(Post(kUpdateLogPath, body).status, 200);
    auto records = shop_.LogRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].raw_body, bodies[0]);
    EXPECT_EQ(records[0].email, "owner@example.com");
    EXPECT_EQ(records[0].chosendb, "Z31 UK 2026-12");
    EXPECT_EQ(records[0].version, "030313");
    EXPECT_EQ(records[0].key, "RAZIZ");
    EXPECT_EQ(records[1].result, "Fail: 7");
    EXPECT_EQ(records[1].fields.at(1),
              (std::pair<std::string, std::string>{"chosendb", "Z31 UK 2026-11"}));
}

TEST_F(ShopTest, RecordsEveryRequestAndAnswersTheRestWith404) {
    std::string token = LogIn();
    Get(kCataloguePath, CookieHeader(token) + "X-Test: 1\r\n");
    for (const char* target :
         {"/", "/kvshop/section.php?xSec=375", "/kvshop/section.php", kLoginPath, kUpdateLogPath,
          "/kvdb/nothere.hdr", "/kvdb/z31uk2612"}) {
        EXPECT_EQ(Get(target).status, 404) << target;
    }
    EXPECT_EQ(Post(kCataloguePath, "").status, 404);
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 200);

    auto requests = shop_.Requests();
    ASSERT_EQ(requests.size(), 11u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, LoginBody("owner%40example.com", "secret"));
    EXPECT_EQ(requests[0].Header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[1].target, kCataloguePath);
    EXPECT_EQ(requests[1].version, "HTTP/1.0");
    EXPECT_EQ(requests[1].cookie, "lang=en; PHPSESSID=" + token);
    EXPECT_EQ(requests[1].Header("X-Test"), "1");
    EXPECT_EQ(requests[1].status, 200);
    EXPECT_EQ(requests[2].status, 404);
    EXPECT_TRUE(shop_.LogRecords().empty());
    shop_.ClearRecords();
    EXPECT_TRUE(shop_.Requests().empty());
}

TEST(ShopConfigTest, RejectsBadValuesAndABusyPort) {
    auto with = [](auto change) {
        ShopConfig cfg;
        change(cfg);
        return cfg;
    };
    EXPECT_THROW(Shop(with([](ShopConfig& c) { c.public_host = "a b"; })), std::invalid_argument);
    EXPECT_THROW(Shop(with([](ShopConfig& c) { c.databases[0].name = "<b>"; })),
                 std::invalid_argument);
    EXPECT_THROW(Shop(with([](ShopConfig& c) { c.databases[0].file = "../x"; })),
                 std::invalid_argument);
    EXPECT_THROW(Shop(with([](ShopConfig& c) { c.databases[1].file = c.databases[0].file; })),
                 std::invalid_argument);
    Shop first;
    EXPECT_THROW(Shop(with([&](ShopConfig& c) { c.port = first.Port(); })), std::runtime_error);
}

}  // namespace
}  // namespace z31sim
