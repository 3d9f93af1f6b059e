// CHttpClient against servers that cut, flood or drip their answers (a raw server on
// 127.0.0.1): a failed transfer is never taken for a file or a page, and nothing waits for ever.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "orvixtool/testsupport/test_env.h"
#include "orvixtool/web/http_client.h"
#include "orvixtool/web/tests/raw_server.h"

namespace devod {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using webtest::RawServer;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& name) {
    std::ostringstream out;
    out << std::ifstream(name, std::ios::binary).rdbuf();
    return out.str();
}

std::string Bytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 997) & 0xFF);
    return bytes;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class HostileServerTest : public ::testing::Test {
protected:
    // The stall rule in 1 s; the average rule as shipped unless a test says otherwise.
    HostileServerTest() {
        CHttpClient::SetTimeouts({1, 1});
        std::ofstream("tmpDB") << "the previous database";
    }
    ~HostileServerTest() override {
        CHttpClient::SetTimeouts({});
        CHttpClient::SetMaxDownloadBytes(kMaxDatabaseBytes);
    }

    // A client whose configured port is the server's.
    static std::unique_ptr<CHttpClient> ClientOf(const RawServer& server) {
        webtest::ScopedEnv port("DEVOD_WEB_PORT", std::to_string(server.Port()));
        return std::make_unique<CHttpClient>();
    }
    // A download into tmpDB; what it printed goes to *printed.
    static bool Download(CHttpClient& client, std::string* printed = nullptr) {
        CaptureStdout();
        bool ok = client.DownloadFile("127.0.0.1", "/kvdb/db.hdr", "tmpDB");
        std::string text = GetCapturedStdout();
        if (printed != nullptr) *printed = text;
        return ok;
    }
    static void ExpectPreviousFileKept() {
        EXPECT_EQ(ReadFile("tmpDB"), "the previous database");
        EXPECT_FALSE(fs::exists("tmpDB.part"));
    }

    webtest::ConfigHome home_;
    webtest::TempDir work_;
    webtest::ScopedCwd cwd_{work_.path()};
    webtest::ScopedEnv host_{"DEVOD_WEB_HOST", "127.0.0.1"};
};

TEST_F(HostileServerTest, AResetMidBodyIsAFailedDownloadAndAnUnreadablePage) {
    RawServer server([](RawServer::Conn& conn) {
        if (conn.Send(RawServer::Head(1048576) + Bytes(300001))) conn.Reset();
    });
    auto client = ClientOf(server);
    std::string printed;
    EXPECT_FALSE(Download(*client, &printed));
    EXPECT_EQ(printed.size(), 63u);
    ExpectPreviousFileKept();

    CaptureStdout();
    EXPECT_EQ(client->GetPage("/kvshop/section.php?xSec=374"), "");
    EXPECT_EQ(GetCapturedStdout().size(), 63u);
}

TEST_F(HostileServerTest, AnnouncedSizesBeyondTheBoundsFailAtOnce) {
    CHttpClient::SetTimeouts({});  // a minute of stall allowed: only the size rule may end it
    RawServer server([](RawServer::Conn& conn) {
        if (conn.Send(RawServer::Head(2LL << 30) + Bytes(4096))) conn.Hold();
    });
    auto client = ClientOf(server);
    Clock::time_point start = Clock::now();
    std::string printed;
    EXPECT_FALSE(Download(*client, &printed));
    EXPECT_THAT(printed, HasSubstr("2147483648 bytes"));
    ExpectPreviousFileKept();
    CaptureStdout();
    EXPECT_EQ(client->GetPage("/big"), "");
    EXPECT_THAT(GetCapturedStdout(), HasSubstr("Page larger than"));
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(HostileServerTest, ABodyWithoutLengthIsBoundedByTheDatabaseSize) {
    CHttpClient::SetMaxDownloadBytes(256 * 1024);
    // The first answer never ends; the second is exactly as large as allowed, then closes.
    int answers = 0;  // on the server's thread only
    RawServer server([&answers](RawServer::Conn& conn) {
        if (answers++ == 0) {
            if (!conn.Send(RawServer::Head(-1))) return;
            std::string chunk = Bytes(16384);
            for (int i = 0; i < 100000 && conn.Send(chunk); ++i) {
            }
        } else {
            conn.Send(RawServer::Head(-1) + Bytes(256 * 1024));
        }
    });
    auto client = ClientOf(server);
    std::string printed;
    EXPECT_FALSE(Download(*client, &printed));
    EXPECT_THAT(printed, HasSubstr("262144 bytes"));
    ExpectPreviousFileKept();
    EXPECT_TRUE(Download(*client));
    EXPECT_TRUE(ReadFile("tmpDB") == Bytes(256 * 1024));
    EXPECT_FALSE(fs::exists("tmpDB.part"));
}

TEST_F(HostileServerTest, AnEmptyAnswerIsNoDatabase) {
    RawServer server([](RawServer::Conn& conn) { conn.Send(RawServer::Head(0)); });
    auto client = ClientOf(server);
    std::string printed;
    EXPECT_FALSE(Download(*client, &printed));
    EXPECT_EQ(printed, "");  // not an internet failure
    ExpectPreviousFileKept();
}

TEST_F(HostileServerTest, ADrippingServerIsCutByTheStallRule) {
    // Two bytes a second: the old rule (under 1 byte/s) would have waited for ever.
    RawServer server([](RawServer::Conn& conn) {
        if (!conn.Send(RawServer::Head(1000))) return;
        for (int i = 0; i < 1000 && conn.Send("x"); ++i) conn.Pause(500);
    });
    auto client = ClientOf(server);
    Clock::time_point start = Clock::now();
    std::string printed;
    EXPECT_FALSE(Download(*client, &printed));
    EXPECT_THAT(printed, HasSubstr("too slow"));
    EXPECT_LT(SecondsSince(start), 10.0);
    ExpectPreviousFileKept();
}

// The average rule with 1 s of grace and 16 KiB/s, the stall rule at 1 KiB/s over 1 s.
constexpr HttpTimeouts kQuickRules{1, 1, 1024, 1, 16 * 1024};

TEST_F(HostileServerTest, ADripFastEnoughForTheStallRuleIsCutByTheAverageRule) {
    CHttpClient::SetTimeouts(kQuickRules);
    // 2.5 KiB/s: above the stall limit, far below the average needed.
    RawServer server([](RawServer::Conn& conn) {
        if (!conn.Send(RawServer::Head(1 << 20))) return;
        for (int i = 0; i < 4000 && conn.Send(Bytes(256)); ++i) conn.Pause(100);
    });
    auto client = ClientOf(server);
    Clock::time_point start = Clock::now();
    std::string printed;
    EXPECT_FALSE(Download(*client, &printed));
    EXPECT_THAT(printed, HasSubstr("Transfer too slow"));
    EXPECT_LT(SecondsSince(start), 10.0);
    ExpectPreviousFileKept();
}

TEST_F(HostileServerTest, ASlowButSteadyLinePassesBothRules) {
    CHttpClient::SetTimeouts(kQuickRules);
    // 40 KiB/s for 3 s: longer than the grace and the stall time, faster than both limits.
    const std::string file = Bytes(30 * 4096);
    RawServer server([&file](RawServer::Conn& conn) {
        if (!conn.Send(RawServer::Head(static_cast<long long>(file.size())))) return;
        for (size_t at = 0; at < file.size() && conn.Send(file.substr(at, 4096)); at += 4096) {
            conn.Pause(100);
        }
    });
    auto client = ClientOf(server);
    EXPECT_TRUE(Download(*client));
    EXPECT_TRUE(ReadFile("tmpDB") == file);
}

}  // namespace
}  // namespace devod
