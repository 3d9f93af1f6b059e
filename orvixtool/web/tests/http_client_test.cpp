// CHttpClient against the local shop stand-in on 127.0.0.1.
#include "orvixtool/web/http_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "orvixtool/testsupport/test_env.h"
#include "sim/shop/z31shop.h"

namespace devod {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

std::string ReadFile(const std::string& name) {
    std::ostringstream out;
    out << std::ifstream(name, std::ios::binary).rdbuf();
    return out.str();
}

void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

// What a call printed on standard output.
template <typename Call>
std::string Printed(Call call) {
    CaptureStdout();
    call();
    return GetCapturedStdout();
}

class ShopTest : public ::testing::Test {
protected:
    ShopTest() { CHttpClient::SetTimeouts({1, 1}); }
    ~ShopTest() override { CHttpClient::SetTimeouts({}); }
    static z31sim::ShopConfig Config() {
        z31sim::ShopConfig cfg;
        cfg.accounts = {{"owner@example.com", "secret"}, {"odd+1@example.com", "p&=+% x"}};
        return cfg;
    }
    const z31sim::ShopDatabase& Db(size_t i) const { return shop_.Config().databases.at(i); }
    std::string DbPath(size_t i) const { return "/kvdb/" + Db(i).file + ".hdr"; }
    std::string DbBytes(size_t i) const { return shop_.DatabaseBytes(Db(i).file); }

    webtest::ConfigHome home_;
    webtest::TempDir work_;
    webtest::ScopedCwd cwd_{work_.path()};
    z31sim::Shop shop_{Config()};
    webtest::ScopedEnv host_{"DEVOD_WEB_HOST", "127.0.0.1"};
    webtest::ScopedEnv port_{"DEVOD_WEB_PORT", std::to_string(shop_.Port())};
    CHttpClient client_;
};

TEST_F(ShopTest, LoginSendsTheFormExactlyOnOneConnection) {
    ASSERT_TRUE(client_.Login("odd+1@example.com", "p&=+% x"));
    ASSERT_EQ(shop_.LoginAttempts().size(), 1u);
    z31sim::LoginAttempt attempt = shop_.LoginAttempts()[0];
    EXPECT_EQ(attempt.raw_body,
              "xEmailAddress=odd%2B1%40example.com&xCustPassword=p%26%3D%2B%25%20x&submit=Login");
    EXPECT_EQ(attempt.password, "p&=+% x");
    EXPECT_TRUE(attempt.accepted);

    std::vector<z31sim::ShopRequest> requests = shop_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method + " " + requests[0].target,
              "GET /kvshop/customer.php?xCmd=logout");
    EXPECT_EQ(requests[1].method + " " + requests[1].target,
              "POST /kvshop/customer.php?xCmd=login");
    EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[1].version, "HTTP/1.0");
    EXPECT_EQ(requests[1].Header("User-Agent"), "DevodTool");
    EXPECT_EQ(shop_.AcceptedConnections(), 1u);
}

TEST_F(ShopTest, CatalogueListsDatabasesOnlyToTheLoggedInSession) {
    EXPECT_EQ(CHttpClient::FindLink(client_.GetLinks(z31sim::kCataloguePath), Db(1).name), "");
    ASSERT_TRUE(client_.Login("owner@example.com", "secret"));
    LinkList links = client_.GetLinks(z31sim::kCataloguePath);
    EXPECT_EQ(CHttpClient::FindLink(links, Db(1).name), shop_.DatabaseHref(Db(1)));
    // The first row's name stands between blanks and line breaks, kept as written.
    EXPECT_EQ(CHttpClient::FindLink(links, Db(0).name), "");
    EXPECT_EQ(CHttpClient::FindLink(links, "\n   " + Db(0).name + "  \n"),
              shop_.DatabaseHref(Db(0)));

    CHttpClient other;  // another run, with a wrong password
    other.Login("owner@example.com", "wrong");
    EXPECT_EQ(CHttpClient::FindLink(other.GetLinks(z31sim::kCataloguePath), Db(1).name), "");
}

TEST_F(ShopTest, DownloadReplacesTheLocalFileOrMovesItAside) {
    WriteFile("tmpDB", std::string(500000, 'o'));
    std::string https = "https" + shop_.DatabaseHref(Db(0)).substr(4);  // fetched over http
    ASSERT_TRUE(client_.DownloadUrl(https, "tmpDB"));
    EXPECT_TRUE(ReadFile("tmpDB") == DbBytes(0));
    EXPECT_FALSE(fs::exists("DEL_tmpDB"));
    EXPECT_FALSE(fs::exists("tmpDB.part"));

    // unlink() cannot remove a non-empty directory, whoever runs the test: moved aside.
    fs::remove("tmpDB");
    fs::create_directories("tmpDB/inside");
    WriteFile("DEL_tmpDB", "an older leftover");
    ASSERT_TRUE(client_.DownloadFile("127.0.0.1", DbPath(1), "tmpDB"));
    EXPECT_TRUE(ReadFile("tmpDB") == DbBytes(1));
    EXPECT_TRUE(fs::is_directory("DEL_tmpDB/inside"));

    // Neither replaced nor moved aside: the download cannot be put in place.
    fs::remove("tmpDB");
    fs::create_directories("tmpDB/inside");
    try {
        client_.DownloadFile("127.0.0.1", DbPath(1), "tmpDB");
        ADD_FAILURE() << "no FileError";
    } catch (const FileError& error) {
        EXPECT_THAT(error.what(), HasSubstr("\"tmpDB\": Is a directory"));
    }
    EXPECT_TRUE(fs::is_directory("tmpDB/inside"));
    EXPECT_FALSE(fs::exists("tmpDB.part"));

    // The ".part" file cannot be created: the old file stays.
    fs::remove_all("tmpDB");
    WriteFile("tmpDB", "old");
    fs::create_directories("tmpDB.part/inside");
    EXPECT_THROW(client_.DownloadFile("127.0.0.1", DbPath(1), "tmpDB"), FileError);
    EXPECT_EQ(ReadFile("tmpDB"), "old");
}

TEST_F(ShopTest, FailedAnswersLeaveTheOldFile) {
    WriteFile("tmpDB", "old");
    shop_.SetStatus(DbPath(1), 500);
    EXPECT_FALSE(client_.DownloadFile("127.0.0.1", DbPath(1), "tmpDB"));
    EXPECT_FALSE(client_.DownloadFile("127.0.0.1", "/kvdb/unknown.hdr", "tmpDB"));
    EXPECT_EQ(ReadFile("tmpDB"), "old");

    shop_.SetStatus(z31sim::kAllPaths, 500);
    EXPECT_FALSE(client_.Login("owner@example.com", "secret"));
    EXPECT_FALSE(client_.SendLog("a", "b", "c"));
    EXPECT_EQ(client_.GetPage(z31sim::kCataloguePath), "");
}

TEST_F(ShopTest, BrokenTransfersFailKeepTheOldFileAndPrintTheError) {
    WriteFile("tmpDB", "the previous database");
    shop_.SetTruncate(DbPath(0), 5000);
    shop_.SetTruncate(z31sim::kCataloguePath, 100);
    std::string printed =
        Printed([&] { EXPECT_FALSE(client_.DownloadFile("127.0.0.1", DbPath(0), "tmpDB")); });
    EXPECT_EQ(printed.size(), 63u);  // "%63s", no line end
    EXPECT_EQ(ReadFile("tmpDB"), "the previous database");
    EXPECT_FALSE(fs::exists("tmpDB.part"));
    // A cut page is no page: links are not looked for in half of one.
    printed = Printed([&] { EXPECT_EQ(client_.GetPage(z31sim::kCataloguePath), ""); });
    EXPECT_EQ(printed.size(), 63u);

    // A reset before any answer and a stalled server (cut by the stall rule after 1 s).
    shop_.ClearFaults();
    shop_.SetReset(DbPath(1), true);
    shop_.SetStall(z31sim::kCataloguePath, true);
    printed = Printed([&] {
        EXPECT_FALSE(client_.DownloadFile("127.0.0.1", DbPath(1), "tmpDB"));
        EXPECT_EQ(client_.GetPage(z31sim::kCataloguePath), "");
    });
    EXPECT_EQ(printed.size(), 126u);
    EXPECT_THAT(printed, HasSubstr("too slow"));
    EXPECT_EQ(ReadFile("tmpDB"), "the previous database");
    EXPECT_FALSE(fs::exists("tmpDB.part"));
}

TEST_F(ShopTest, RedirectedLoginIsFollowedAndItsSessionKept) {
    // The usual shop answer to a login: the session cookie with a redirect to the account page.
    shop_.SetRedirect(z31sim::kLoginPath, z31sim::kForgottenPasswordPath);
    ASSERT_TRUE(client_.Login("owner@example.com", "secret"));
    std::vector<z31sim::ShopRequest> requests = shop_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].status, 302);
    EXPECT_EQ(requests[2].method + " " + requests[2].target,
              std::string("GET ") + z31sim::kForgottenPasswordPath);  // a GET after the POST
    EXPECT_EQ(requests[2].body, "");
    EXPECT_EQ(CHttpClient::FindLink(client_.GetLinks(z31sim::kCataloguePath), Db(1).name),
              shop_.DatabaseHref(Db(1)));

    // Judged by the last answer.
    shop_.SetRedirect(z31sim::kLoginPath, "/kvshop/gone.php");
    EXPECT_FALSE(client_.Login("owner@example.com", "secret"));
    // A page read through a redirect is the page it leads to.
    shop_.SetRedirect("/kvshop/old.php", z31sim::kForgottenPasswordPath, 301);
    EXPECT_EQ(client_.GetPage("/kvshop/old.php"), client_.GetPage(z31sim::kForgottenPasswordPath));
}

TEST_F(ShopTest, RedirectedDownloadsArriveByteForByteWithinTenHops) {
    WriteFile("tmpDB", "old");
    shop_.SetRedirect("/kvdb/moved.hdr", shop_.BaseUrl() + DbPath(0), 303);
    ASSERT_TRUE(client_.DownloadFile("127.0.0.1", "/kvdb/moved.hdr", "tmpDB"));
    EXPECT_TRUE(ReadFile("tmpDB") == DbBytes(0));

    // /hop/0 -> /hop/1 -> ... -> /hop/10 -> the file: eleven redirects from /hop/0, ten from /hop/1.
    for (int i = 0; i < 11; ++i) {
        std::string next = i < 10 ? "/hop/" + std::to_string(i + 1) : DbPath(1);
        shop_.SetRedirect("/hop/" + std::to_string(i), next, 307);
    }
    ASSERT_TRUE(client_.DownloadFile("127.0.0.1", "/hop/1", "tmpDB"));
    EXPECT_TRUE(ReadFile("tmpDB") == DbBytes(1));
    std::string printed =
        Printed([&] { EXPECT_FALSE(client_.DownloadFile("127.0.0.1", "/hop/0", "tmpDB")); });
    EXPECT_THAT(printed, HasSubstr("Maximum (10) redirects"));
    EXPECT_TRUE(ReadFile("tmpDB") == DbBytes(1));
    // A login that goes round in circles is an internet failure, as one that cannot connect.
    shop_.SetRedirect(z31sim::kLoginPath, z31sim::kLoginPath);
    EXPECT_THROW(client_.Login("owner@example.com", "secret"), InternetError);
}

TEST_F(ShopTest, RedirectsElsewhereThanHttpAreNotFollowedAndChangeNothing) {
    WriteFile("tmpDB", "old");
    for (std::string location :
         {"ftp://127.0.0.1/kvdb/z31uk2612.hdr", "file:///etc/hostname", "gopher://127.0.0.1/"}) {
        shop_.SetRedirect(DbPath(0), location);
        std::string printed = Printed([&] {
            EXPECT_FALSE(client_.DownloadFile("127.0.0.1", DbPath(0), "tmpDB")) << location;
        });
        EXPECT_THAT(printed, HasSubstr("not supported")) << location;
        EXPECT_EQ(ReadFile("tmpDB"), "old");
    }
    shop_.SetRedirect(z31sim::kCataloguePath, "file:///etc/hostname");
    Printed([&] { EXPECT_EQ(client_.GetPage(z31sim::kCataloguePath), ""); });

    // https is followed (this shop speaks plain HTTP, so it fails there, in the TLS handshake).
    shop_.SetRedirect(DbPath(0), "https://127.0.0.1:" + std::to_string(shop_.Port()) + DbPath(0));
    std::string printed =
        Printed([&] { EXPECT_FALSE(client_.DownloadFile("127.0.0.1", DbPath(0), "tmpDB")); });
    EXPECT_THAT(printed, Not(HasSubstr("not supported")));
    // A redirect that ends in a failed answer leaves the file alone too.
    shop_.SetRedirect(DbPath(0), "/kvdb/nothere.hdr");
    EXPECT_FALSE(client_.DownloadFile("127.0.0.1", DbPath(0), "tmpDB"));
    EXPECT_EQ(ReadFile("tmpDB"), "old");
    EXPECT_FALSE(fs::exists("tmpDB.part"));
}

TEST(ShopCatalogueTest, APageOfRealSizeIsRead) {
    webtest::ConfigHome home;
    z31sim::ShopConfig cfg;
    cfg.product_rows = 1400;  // about 1.1 MB
    z31sim::Shop shop(cfg);
    webtest::ScopedEnv host("DEVOD_WEB_HOST", "127.0.0.1");
    webtest::ScopedEnv port("DEVOD_WEB_PORT", std::to_string(shop.Port()));
    CHttpClient client;
    ASSERT_TRUE(client.Login("owner@example.com", "secret"));
    ASSERT_GT(shop.CataloguePage(true).size(), 1000000u);
    LinkList links = client.GetLinks(z31sim::kCataloguePath);
    EXPECT_GE(links.size(), shop.CatalogueLinks().size());
    for (const z31sim::ShopDatabase& db :
         std::vector(cfg.databases.begin() + 1, cfg.databases.end())) {
        EXPECT_EQ(CHttpClient::FindLink(links, db.name), shop.DatabaseHref(db));
    }
    EXPECT_EQ(CHttpClient::FindLink(links, "Z31 windscreen mount, kit 1400"),
              "/kvshop/product.php?xProd=1400");
}

TEST_F(ShopTest, SendLogPostsTheFields) {
    ASSERT_TRUE(client_.SendLog("owner@example.com", "Z31 UK 2026-12", "OK & done=100%"));
    ASSERT_EQ(shop_.LogRecords().size(), 1u);
    z31sim::LogRecord record = shop_.LogRecords()[0];
    EXPECT_EQ(record.raw_body,
              "email=owner%40example.com&chosendb=Z31%20UK%202026-12&version=030313"
              "&result=OK%20%26%20done%3D100%25&key=RAZIZ");
    EXPECT_EQ(record.result, "OK & done=100%");
    EXPECT_EQ(shop_.Requests().back().Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(ShopTest, InternetFailuresCarryTheLibraryText) {
    shop_.GoDown();
    try {
        client_.Login("owner@example.com", "secret");
        ADD_FAILURE() << "no InternetError";
    } catch (const InternetError& error) {
        EXPECT_THAT(error.what(), HasSubstr("onnect"));
        std::string text = std::string(error.what()).substr(0, 63);
        char printed[70];
        std::snprintf(printed, sizeof printed, "%63s", text.c_str());
        CaptureStdout();
        EXPECT_EQ(client_.GetPage(z31sim::kCataloguePath), "");
        // libcurl's text holds the time each attempt took ("after 0 ms", "after 1 ms"), so only
        // the part before it and the printed width are compared.
        std::string captured = GetCapturedStdout();
        std::string expected = printed;
        EXPECT_EQ(captured.size(), expected.size());
        EXPECT_EQ(captured.substr(0, captured.find(" after ")),
                  expected.substr(0, expected.find(" after ")));
    }
    shop_.GoUp();
    shop_.SetReset(z31sim::kUpdateLogPath, true);
    EXPECT_THROW(client_.SendLog("a", "b", "c"), InternetError);
    webtest::ScopedEnv bad_host("DEVOD_WEB_HOST", "127.0.0.1 x");  // no error buffer text
    try {
        client_.SendLog("a", "b", "c");
        ADD_FAILURE() << "no InternetError";
    } catch (const InternetError& error) {
        EXPECT_STRNE(error.what(), "");
    }
}

}  // namespace
}  // namespace devod
