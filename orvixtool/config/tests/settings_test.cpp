#include "orvixtool/config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>

#include "orvixtool/config/registry.h"
#include "orvixtool/config/scramble.h"
#include "orvixtool/testsupport/test_env.h"

namespace devod {
namespace {

TEST(ScrambleTest, XorWithPositionPlusKeyWrapsAt256) {
    EXPECT_EQ(ScrambleText("AAA"), std::string({'A' ^ 7, 'A' ^ 8, 'A' ^ 9}));
    // Positions 0..253 use 7..255 then 0..4, so byte 6 never scrambles to zero.
    std::string text(254, '\x06');
    std::string scrambled = ScrambleText(text);
    ASSERT_EQ(scrambled.size(), 254u);
    EXPECT_EQ(static_cast<uint8_t>(scrambled[248]), 6 ^ 0xFF);
    EXPECT_EQ(scrambled[249], 6);
    EXPECT_EQ(scrambled[250], 6 ^ 1);
    EXPECT_EQ(ScrambleText(scrambled), text);
    EXPECT_EQ(ScrambleText(std::string(300, '\x06')).size(), 254u);
    EXPECT_EQ(ScrambleText("ab\x09"
                           "cd"),
              std::string({'a' ^ 7, 'b' ^ 8}));  // cut at zero
    EXPECT_TRUE(CanScramble(text));
    EXPECT_FALSE(CanScramble(text + '\x06'));
    EXPECT_FALSE(CanScramble("ab\x09"));
}

class AccountSettingsTest : public ::testing::Test {
protected:
    std::string Raw(const char* name) {  // "#<result>" when the value cannot be read
        RegKey key;
        key.Create("SOFTWARE\\DEVOD\\HTTPACCOUNT");
        std::array<char, 400> buffer{};
        uint32_t size = buffer.size();
        RegResult result = key.QueryString(name, buffer.data(), &size);
        return result == kRegSuccess ? buffer.data() : "#" + std::to_string(result);
    }
    void ExpectForgotten() {
        RegKey key;
        key.Create("SOFTWARE\\DEVOD\\HTTPACCOUNT");
        uint32_t flag = 9;
        EXPECT_EQ(key.QueryDword("IsAccountSave", &flag), kRegSuccess);
        EXPECT_EQ(flag, 0u);
        EXPECT_EQ(Raw("AccountID"), "");
        EXPECT_EQ(Raw("AccountPass"), "");
        EXPECT_FALSE(store_.HttpAccount().saved);
    }
    webtest::ConfigHome home_;
    Settings store_;
};

TEST_F(AccountSettingsTest, RemembersTheAccountScrambled) {
    std::string password = "p&ss w0rd=+%\xc3\xa9";
    ASSERT_TRUE(store_.SaveHttpAccount(true, "owner@example.com", password));
    StoredAccount loaded = Settings().HttpAccount();
    EXPECT_TRUE(loaded.saved);
    EXPECT_EQ(loaded.email, "owner@example.com");
    EXPECT_EQ(loaded.password, password);
    EXPECT_EQ(Raw("AccountPass"), ScrambleText(password));
    EXPECT_EQ(Raw("AccountPass").size(), password.size());
    struct stat st {};
    ASSERT_EQ(::stat(RegistryFilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A value longer than 254 is stored but not restored.
    ASSERT_TRUE(store_.SaveHttpAccount(true, std::string(255, 'e'), "pw"));
    EXPECT_EQ(store_.HttpAccount().email, "");
    EXPECT_EQ(store_.HttpAccount().password, "pw");
}

TEST_F(AccountSettingsTest, OnlyIsAccountSaveOfOneLoads) {
    EXPECT_FALSE(store_.HttpAccount().saved);
    RegKey key;
    ASSERT_EQ(key.Create("SOFTWARE\\DEVOD\\HTTPACCOUNT"), kRegSuccess);
    key.SetString("AccountID", "x@y");
    key.SetString("AccountPass", ScrambleText("pw"));
    for (int step = 0; step < 3; ++step) {  // missing, 2, the string "1"
        if (step == 1) key.SetDword("IsAccountSave", 2);
        if (step == 2) key.SetString("IsAccountSave", "1");
        StoredAccount loaded = store_.HttpAccount();
        EXPECT_FALSE(loaded.saved);
        EXPECT_EQ(loaded.email + loaded.password, "") << step;
    }
    key.SetDword("IsAccountSave", 1);
    EXPECT_EQ(store_.HttpAccount().password, "pw");
}

TEST_F(AccountSettingsTest, UntickedOrUnstorablePasswordForgetsTheAccount) {
    ASSERT_TRUE(store_.SaveHttpAccount(true, "owner@example.com", "secret"));
    EXPECT_TRUE(store_.SaveHttpAccount(false, "owner@example.com", "secret"));
    ExpectForgotten();
    // Byte 2 equal to 2 + K would scramble to zero; 255 bytes do not fit; a zero byte.
    for (const std::string& password :
         {std::string("xy\x09"), std::string(255, 'p'), std::string("a\0b", 3)}) {
        ASSERT_TRUE(store_.SaveHttpAccount(true, "owner@example.com", "good"));
        EXPECT_FALSE(store_.SaveHttpAccount(true, "owner@example.com", password));
        ExpectForgotten();
    }
}

TEST_F(AccountSettingsTest, TheFtpAccountIsKeptApartFromTheShopAccount) {
    ASSERT_TRUE(store_.SaveHttpAccount(true, "owner@example.com", "shop"));
    ASSERT_TRUE(store_.SaveFtpAccount(true, "ftpuser", "ftp-pass"));
    EXPECT_EQ(store_.HttpAccount().password, "shop");
    StoredAccount ftp = store_.FtpAccount();
    EXPECT_TRUE(ftp.saved);
    EXPECT_EQ(ftp.email, "ftpuser");
    EXPECT_EQ(ftp.password, "ftp-pass");
    RegKey key;
    ASSERT_EQ(key.Create(settings_keys::kFtpAccount), kRegSuccess);
    std::array<char, 256> raw{};
    uint32_t size = 255;
    ASSERT_EQ(key.QueryString("AccountPass", raw.data(), &size), kRegSuccess);
    EXPECT_EQ(std::string(raw.data()), ScrambleText("ftp-pass"));
}

// A value that is missing, of the other type or out of its range reads as absent, never as a
// made-up default.
TEST_F(AccountSettingsTest, TypedValuesOutsideTheirRangeReadAsAbsent) {
    EXPECT_FALSE(store_.WebHost());
    EXPECT_FALSE(store_.WebPort());
    EXPECT_FALSE(store_.SerialPort());
    store_.SetWebHost("shop.test");
    store_.SetWebPort(8080);
    store_.SetSerialPort(5);
    store_.SetSerialModel("Z31STD");
    EXPECT_EQ(store_.WebHost(), "shop.test");
    EXPECT_EQ(store_.WebPort(), 8080);
    EXPECT_EQ(store_.SerialPort(), 5);
    EXPECT_EQ(store_.SerialModel(), "Z31STD");
    for (int port : {0, 257}) {
        store_.SetSerialPort(port);
        EXPECT_FALSE(store_.SerialPort()) << port;
    }
    store_.SetWebPort(70000);
    EXPECT_FALSE(store_.WebPort());
    store_.SetWebHost("");
    EXPECT_FALSE(store_.WebHost());
    Settings::WriteString(settings_keys::kWeb, settings_keys::kPort, "80");  // the other type
    EXPECT_FALSE(store_.WebPort());
}

}  // namespace
}  // namespace devod
