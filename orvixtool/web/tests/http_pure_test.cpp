#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "orvixtool/web/http_client.h"

namespace devod {
namespace {

TEST(EncodeFormValueTest, OnlyUnreservedCharactersStay) {
    EXPECT_EQ(EncodeFormValue("a b&c=d+e%f~g.h_i-jZ9@"), "a%20b%26c%3Dd%2Be%25f~g.h_i-jZ9%40");
    for (int c = 0; c < 256; ++c) {
        std::string one(1, static_cast<char>(c));
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        bool keep = std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
        EXPECT_EQ(EncodeFormValue(one), keep ? one : std::string(escaped)) << c;
    }
}

TEST(LinksTest, SplitAndFind) {
    std::string host, path;
    ASSERT_TRUE(SplitDownloadLink("https://h.example:8080/a?b=c//d", &host, &path));
    EXPECT_EQ(host, "h.example:8080");
    EXPECT_EQ(path, "/a?b=c//d");
    EXPECT_FALSE(SplitDownloadLink("http://host.only", &host, &path));
    EXPECT_FALSE(SplitDownloadLink("/kvdb/eu.hdr", &host, &path));
    EXPECT_FALSE(CHttpClient().DownloadUrl("http://host.only", "never_written"));

    LinkList links = {{"Europe ", "/1"}, {"Europe", "/2"}, {"Europe", "/3"}, {"europe", "/4"}};
    EXPECT_EQ(CHttpClient::FindLink(links, "Europe"), "/2");
    EXPECT_EQ(CHttpClient::FindLink(links, "europe"), "/4");
    EXPECT_EQ(CHttpClient::FindLink(links, "Asia"), "");
}

}  // namespace
}  // namespace devod
