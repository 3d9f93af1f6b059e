#include "orvixtool/web/web_config.h"

#include <gtest/gtest.h>

#include "orvixtool/config/registry.h"
#include "orvixtool/testsupport/test_env.h"

namespace devod {
namespace {

TEST(WebConfigTest, DefaultThenRegistryThenEnvironment) {
    webtest::ConfigHome home;
    EXPECT_EQ(CurrentWebEndpoint().host, "shop.kelvaro.example");
    EXPECT_EQ(CurrentWebEndpoint().port, 80);
    RegKey key;
    ASSERT_EQ(key.Create("SOFTWARE\\DEVOD\\WEB"), kRegSuccess);
    key.SetString("Port", "8080");  // wrong type: ignored
    EXPECT_EQ(CurrentWebEndpoint().port, 80);
    key.SetString("Host", "WWW.registry.example");
    key.SetDword("Port", 8080);
    EXPECT_EQ(CurrentWebEndpoint().host, "WWW.registry.example");
    EXPECT_EQ(CurrentWebEndpoint().port, 8080);
    EXPECT_EQ(ShopDomainName(), "registry.example");

    for (const char* bad : {"0", "65536", "80x", " 81", "99999999999999999999"}) {
        webtest::ScopedEnv port("DEVOD_WEB_PORT", bad);
        EXPECT_EQ(CurrentWebEndpoint().port, 8080) << bad;
    }
    webtest::ScopedEnv host("DEVOD_WEB_HOST", "shop.www.example");
    webtest::ScopedEnv port("DEVOD_WEB_PORT", "65535");
    EXPECT_EQ(CurrentWebEndpoint().host, "shop.www.example");
    EXPECT_EQ(CurrentWebEndpoint().port, 65535);
    EXPECT_EQ(ShopDomainName(), "shop.www.example");
}

}  // namespace
}  // namespace devod
