#include "orvixtool/config/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>

#include "orvixtool/testsupport/test_env.h"

namespace devod {
namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(key_.Create("SOFTWARE\\DEVOD\\TEST"), kRegSuccess); }
    RegResult ReadString(const std::string& name, uint32_t capacity, std::string* text) {
        std::array<char, 400> buffer{};
        uint32_t size = capacity;
        RegResult result = key_.QueryString(name, buffer.data(), &size);
        *text = buffer.data();
        return result;
    }
    webtest::ConfigHome home_;
    RegKey key_;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeAcrossKeys) {
    ASSERT_EQ(key_.SetDword("Number", 4294967295u), kRegSuccess);
    ASSERT_EQ(key_.SetString("Text", "12"), kRegSuccess);
    RegKey again;
    ASSERT_EQ(again.Create("SOFTWARE\\DEVOD\\TEST"), kRegSuccess);
    uint32_t number = 7;
    EXPECT_EQ(again.QueryDword("Number", &number), kRegSuccess);
    EXPECT_EQ(number, 4294967295u);
    std::string text;
    EXPECT_EQ(ReadString("Text", 255, &text), kRegSuccess);
    EXPECT_EQ(text, "12");

    number = 7;
    EXPECT_EQ(key_.QueryDword("Text", &number), kRegInvalidData);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(ReadString("Number", 255, &text), kRegInvalidData);
    EXPECT_EQ(key_.QueryDword("Missing", &number), kRegFileNotFound);
    RegKey other;
    ASSERT_EQ(other.Create("SOFTWARE\\DEVOD\\OTHER"), kRegSuccess);
    EXPECT_EQ(other.QueryDword("Number", &number), kRegFileNotFound);
}

TEST_F(RegistryTest, StringMustFitWithItsTerminatingZero) {
    ASSERT_EQ(key_.SetString("Fits", std::string(254, 'x')), kRegSuccess);
    ASSERT_EQ(key_.SetString("TooLong", std::string(255, 'y')), kRegSuccess);
    std::string text;
    EXPECT_EQ(ReadString("Fits", 255, &text), kRegSuccess);
    EXPECT_EQ(text, std::string(254, 'x'));
    EXPECT_EQ(ReadString("TooLong", 255, &text), kRegMoreData);
    EXPECT_EQ(text, "");  // not read at all
    EXPECT_EQ(ReadString("TooLong", 256, &text), kRegSuccess);
}

TEST_F(RegistryTest, EveryNonZeroByteSurvivesTheFile) {
    std::string bytes;
    for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
    bytes += "\\x41,\"; comment\n[group]\n@Variant(";
    ASSERT_EQ(key_.SetString("Bytes", bytes), kRegSuccess);
    std::string text;
    EXPECT_EQ(ReadString("Bytes", 400, &text), kRegSuccess);
    EXPECT_EQ(text, bytes);
    EXPECT_EQ(key_.SetString("Zero", std::string("a\0b", 3)), kRegInvalidParameter);
    EXPECT_EQ(key_.SetDword("a/b", 1), kRegInvalidParameter);
    RegKey bad;
    EXPECT_EQ(bad.Create("SOFTWARE\\\\DEVOD"), kRegInvalidParameter);
    EXPECT_EQ(bad.SetDword("A", 1), kRegInvalidHandle);
}

TEST_F(RegistryTest, FileStaysPrivateToItsOwner) {
    std::string file = RegistryFilePath();
    EXPECT_EQ(file, home_.dir.path() + "/DEVOD/DevodTool.ini");
    ASSERT_EQ(key_.SetDword("A", 1), kRegSuccess);
    struct stat st {};
    ASSERT_EQ(::stat((home_.dir.path() + "/DEVOD").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::chmod(file.c_str(), 0644);
    ASSERT_EQ(key_.SetString("B", "x"), kRegSuccess);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    webtest::ScopedEnv xdg("XDG_CONFIG_HOME", file);  // a file where a folder should be
    EXPECT_EQ(key_.SetDword("A", 1), kRegAccessDenied);
}

}  // namespace
}  // namespace devod
