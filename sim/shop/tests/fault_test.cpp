// The shop's fault knobs and its connection handling.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/shop/tests/http_client.h"
#include "sim/shop/z31shop.h"

namespace z31sim {
namespace {

using test::Client;
using test::GetRequest;
using test::Reply;
using Event = Client::Event;

const char kKeepAlive[] = "Connection: keep-alive\r\n";
const std::string kSmallDb = "/kvdb/z31uk2611.hdr";  // 4100 bytes
const std::string kBigDb = "/kvdb/z31uk2612.hdr";    // 150000 bytes

class FaultTest : public ::testing::Test {
protected:
    Reply Get(const std::string& target) { return test::Fetch(shop_.Port(), GetRequest(target)); }

    Shop shop_;
};

TEST_F(FaultTest, StatusOverrideGoesByTargetThenPathThenAll) {
    shop_.SetStatus(kAllPaths, 503);
    shop_.SetStatus("/kvshop/customer.php", 500);
    shop_.SetStatus(kForgottenPasswordPath, 403);
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 403);
    EXPECT_EQ(Get(kLogoutPath).status, 500);
    EXPECT_EQ(Get(kCataloguePath).status, 503);
    // An overridden login makes no session.
    Reply login = test::Fetch(shop_.Port(), test::PostRequest(kLoginPath,
                                                              "xEmailAddress=owner%40"
                                                              "example.com&xCustPassword=secret"));
    EXPECT_EQ(login.status, 500);
    EXPECT_EQ(shop_.SessionCount(), 0u);

    shop_.SetStatus(kAllPaths, 0);
    EXPECT_EQ(Get(kCataloguePath).status, 200);
    shop_.ClearFaults();
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 200);
}

TEST_F(FaultTest, TruncateDeclaresTheFullLengthThenCloses) {
    shop_.SetTruncate(kBigDb, 1000);
    Client client(shop_.Port());
    ASSERT_TRUE(client.Send(GetRequest(kBigDb, kKeepAlive)));
    Reply r = client.Read();
    EXPECT_FALSE(r.complete);
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.Header("Content-Length"), "150000");
    EXPECT_EQ(r.body, shop_.DatabaseBytes("z31uk2612").substr(0, 1000));
    EXPECT_TRUE(Get(kSmallDb).complete);
    shop_.ClearTruncate(kBigDb);
    EXPECT_TRUE(Get(kBigDb).complete);
}

TEST_F(FaultTest, StallHoldsTheConnectionUntilCleared) {
    shop_.SetStall(kCataloguePath, true);
    Client stalled(shop_.Port());
    ASSERT_TRUE(stalled.Send(GetRequest(kCataloguePath)));
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 200);  // others are still served
    EXPECT_EQ(stalled.Next(200), Event::kNothing);
    shop_.SetStall(kCataloguePath, false);
    EXPECT_EQ(stalled.Next(5000), Event::kClosed);
    EXPECT_EQ(Get(kCataloguePath).status, 200);
}

TEST_F(FaultTest, DripSendsTheWholeAnswerOneByteAtATime) {
    const Reply plain = Get(kForgottenPasswordPath);
    ASSERT_TRUE(plain.complete);
    shop_.SetDripMs(kForgottenPasswordPath, 2);
    const auto start = std::chrono::steady_clock::now();
    Client client(shop_.Port());
    ASSERT_TRUE(client.Send(GetRequest(kForgottenPasswordPath)));
    Reply dripped = client.Read(30000);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(dripped.complete);
    EXPECT_EQ(dripped.body, plain.body);
    // At least the pause between every two bytes of the body.
    EXPECT_GE(took, std::chrono::milliseconds(2 * (plain.body.size() - 1)));
    shop_.ClearFaults();
    EXPECT_TRUE(Get(kSmallDb).complete);
}

TEST_F(FaultTest, EndlessBodyHasNoLengthAndKeepsComing) {
    shop_.SetEndlessBody(kSmallDb, true);
    Client client(shop_.Port());
    ASSERT_TRUE(client.Send(GetRequest(kSmallDb)));
    Reply head = client.Read();
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("Content-Length"), "");
    EXPECT_EQ(head.Header("Connection"), "close");
    // Far more than the database holds, and still no end.
    for (int i = 0; i < 100; ++i) ASSERT_EQ(client.Next(2000), Event::kData) << i;
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 200);  // others are still served
    shop_.SetEndlessBody(kSmallDb, false);
    EXPECT_TRUE(Get(kSmallDb).complete);
}

TEST(ShopShutdownTest, EndsStalledConnections) {
    auto shop = std::make_unique<Shop>();
    shop->SetStall(kAllPaths, true);
    Client whole(shop->Port());
    Client half(shop->Port());
    ASSERT_TRUE(whole.Send(GetRequest(kCataloguePath)));
    ASSERT_TRUE(half.Send("GET /half"));
    EXPECT_EQ(whole.Next(100), Event::kNothing);
    shop.reset();
    EXPECT_EQ(whole.Next(5000), Event::kClosed);
    EXPECT_EQ(half.Next(5000), Event::kClosed);
}

TEST_F(FaultTest, ResetClosesWithRstWithoutHandling) {
    shop_.SetReset(kUpdateLogPath, true);
    Client client(shop_.Port());
    ASSERT_TRUE(client.Send(test::PostRequest(kUpdateLogPath, "email=x&result=OK")));
    EXPECT_TRUE(client.Read().reset);
    EXPECT_TRUE(shop_.LogRecords().empty());
    ASSERT_EQ(shop_.Requests().size(), 1u);
    EXPECT_EQ(shop_.Requests()[0].status, 0);
}

TEST_F(FaultTest, DelayHoldsOneAnswerWithoutBlockingOthers) {
    shop_.SetDelayMs(kCataloguePath, 1000);
    Client slow(shop_.Port());
    ASSERT_TRUE(slow.Send(GetRequest(kCataloguePath)));
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 200);
    EXPECT_EQ(slow.Next(0), Event::kNothing);
    EXPECT_EQ(slow.Read(10000).status, 200);
    EXPECT_THROW(shop_.SetDelayMs(kAllPaths, -1), std::invalid_argument);
}

TEST_F(FaultTest, RedirectAnswersWithALocationAfterTheUsualHandling) {
    shop_.SetRedirect(kLoginPath, "/kvshop/account.php");
    Reply login =
        test::Fetch(shop_.Port(), test::PostRequest(kLoginPath,
                                                    "xEmailAddress=owner%40example.com"
                                                    "&xCustPassword=secret&submit=Login"));
    EXPECT_EQ(login.status, 302);
    EXPECT_EQ(login.Header("Location"), "/kvshop/account.php");
    // The login was still handled: its session exists and its cookie comes with the redirect.
    EXPECT_TRUE(shop_.IsSessionValid(login.Cookie("PHPSESSID")));
    EXPECT_EQ(shop_.LoginAttempts().size(), 1u);

    // Any location is sent as given, also for a target the shop does not know.
    shop_.SetRedirect("/kvdb/old.hdr", "http://127.0.0.1:1/kvdb/z31uk2611.hdr", 307);
    Reply moved = Get("/kvdb/old.hdr");
    EXPECT_TRUE(moved.complete);
    EXPECT_EQ(moved.status, 307);
    EXPECT_EQ(moved.Header("Location"), "http://127.0.0.1:1/kvdb/z31uk2611.hdr");
    EXPECT_EQ(shop_.Requests().back().status, 307);
    EXPECT_EQ(Get(kSmallDb).status, 200);

    // A status override wins; an empty location clears, and so does ClearFaults.
    shop_.SetStatus(kLoginPath, 500);
    EXPECT_EQ(test::Fetch(shop_.Port(), test::PostRequest(kLoginPath, "")).status, 500);
    shop_.SetStatus(kLoginPath, 0);
    shop_.SetRedirect("/kvdb/old.hdr", "");
    EXPECT_EQ(Get("/kvdb/old.hdr").status, 404);
    shop_.ClearFaults();
    EXPECT_EQ(test::Fetch(shop_.Port(), test::PostRequest(kLoginPath, "")).status, 200);

    EXPECT_THROW(shop_.SetRedirect(kLoginPath, "/x", 200), std::invalid_argument);
    EXPECT_THROW(shop_.SetRedirect(kLoginPath, "/x", 400), std::invalid_argument);
    EXPECT_THROW(shop_.SetRedirect(kLoginPath, "/x\r\nSet-Cookie: y=1"), std::invalid_argument);
}

TEST_F(FaultTest, DownRefusesConnectionsAndUpServesAgain) {
    int port = shop_.Port();
    shop_.SetStall(kCataloguePath, true);
    Client stalled(port);
    ASSERT_TRUE(stalled.Send(GetRequest(kCataloguePath)));
    shop_.GoDown();
    EXPECT_FALSE(shop_.IsUp());
    EXPECT_TRUE(Client(port).refused());
    EXPECT_EQ(stalled.Next(5000), Event::kClosed);
    shop_.GoUp();
    EXPECT_TRUE(shop_.IsUp());
    EXPECT_EQ(Get(kForgottenPasswordPath).status, 200);
}

TEST_F(FaultTest, KeepsTheConnectionOnlyWhenAsked) {
    Client client(shop_.Port());
    for (const std::string& target : {kSmallDb, kBigDb}) {
        ASSERT_TRUE(client.Send(GetRequest(target, kKeepAlive)));
        Reply r = client.Read();
        ASSERT_TRUE(r.complete) << target;
        EXPECT_EQ(r.Header("Connection"), "keep-alive");
    }
    // Two requests in one go, the second without keep-alive.
    ASSERT_TRUE(client.Send(GetRequest("/missing", kKeepAlive) + GetRequest(kSmallDb)));
    EXPECT_EQ(client.Read().status, 404);
    Reply last = client.Read();
    EXPECT_TRUE(last.complete);
    EXPECT_EQ(last.Header("Connection"), "close");
    EXPECT_EQ(client.Next(5000), Event::kClosed);
    EXPECT_EQ(shop_.AcceptedConnections(), 1u);

    // HTTP/1.1 keeps the connection unless told otherwise.
    Client modern(shop_.Port());
    ASSERT_TRUE(modern.Send("GET " + kSmallDb + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_TRUE(modern.Read().complete);
    EXPECT_EQ(modern.Next(50), Event::kNothing);
}

TEST_F(FaultTest, MalformedRequestsGet400AndAClose) {
    for (const char* bad : {"NONSENSE\r\n\r\n", "GET / HTTP/1.0\r\nno colon\r\n\r\n",
                            "POST / HTTP/1.0\r\nContent-Length: x1\r\n\r\n"}) {
        Client client(shop_.Port());
        ASSERT_TRUE(client.Send(bad));
        EXPECT_EQ(client.Read().status, 400) << bad;
        EXPECT_EQ(client.Next(5000), Event::kClosed);
    }
    EXPECT_TRUE(shop_.Requests().empty());
}

TEST_F(FaultTest, ServesManyClientsAtOnceKeepingEachOnesOrder) {
    constexpr int kClients = 8, kEach = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kClients; ++t) {
        threads.emplace_back([this, t] {
            Client client(shop_.Port());
            for (int i = 0; i < kEach; ++i) {
                std::string body = "email=" + std::to_string(t) + "&result=" + std::to_string(i);
                client.Send(test::PostRequest(kUpdateLogPath, body, kKeepAlive));
                client.Read();
            }
        });
    }
    for (auto& th : threads) th.join();
    std::vector<int> next(kClients, 0);
    auto records = shop_.LogRecords();
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kClients * kEach));
    for (const LogRecord& rec : records) {
        EXPECT_EQ(rec.result, std::to_string(next[std::stoi(rec.email)]++));
    }
}

}  // namespace
}  // namespace z31sim
