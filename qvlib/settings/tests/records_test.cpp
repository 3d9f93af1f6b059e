// The settings and user point lines, and the user point record's packing, without a device.
#include "qvlib/settings/records.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qv::SettingsList;

std::string Words(const char* sixteen) { return std::string("$0000*") + sixteen + "\r\n"; }

constexpr const char* kAllNone =
    "FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF ";

// Sixteen words of a user point line's usual text, numbered `number`.
std::string PointLine(const char* number, const char* words) {
    return std::string("$") + number + "*" + words + "\r\n";
}

}  // namespace

TEST(SettingsLine, WordsGoToTheirListsSignExtendedAndFfffIsNoValue) {
    const std::string reply =
        "\r\nCompleted!\r\n" +
        Words("0078 0050 FFFF FFFF FFFF 1234 1234 1234 0014 FFC4 0000 1234 1234 1234 0001 0001 ") +
        "$9999*\r\n";
    const auto words = qv::FindSettingsWords(reply.c_str());
    ASSERT_TRUE(words);
    const qv::SettingsLists lists = qv::ListsFromWords(*words);
    EXPECT_EQ(lists.user_speed, (SettingsList{120, 80}));
    EXPECT_EQ(lists.warning_by_second, (SettingsList{20}));
    EXPECT_EQ(lists.gmt, (SettingsList{-60}));
    EXPECT_EQ(lists.summer_time, (SettingsList{0}));
    EXPECT_EQ(lists.time_set, (SettingsList{1}));
    EXPECT_EQ(lists.speed_unit, (SettingsList{1}));

    const qv::SettingsLists none =
        qv::ListsFromWords(*qv::FindSettingsWords(Words(kAllNone).c_str()));
    EXPECT_TRUE(none.user_speed.empty() && none.warning_by_second.empty() && none.gmt.empty() &&
                none.summer_time.empty() && none.time_set.empty() && none.speed_unit.empty());
}

TEST(SettingsLine, OnlyALineOfExactlyEightyCharactersCounts) {
    std::string line = Words(kAllNone);
    EXPECT_TRUE(qv::FindSettingsWords(line.c_str()));
    std::string short_line = line;
    short_line.erase(6, 1);  // 79
    EXPECT_FALSE(qv::FindSettingsWords(short_line.c_str()));
    std::string long_line = line;
    long_line.insert(6, " ");  // 81
    EXPECT_FALSE(qv::FindSettingsWords(long_line.c_str()));
    EXPECT_FALSE(qv::FindSettingsWords(line.substr(0, line.size() - 2).c_str()));  // no CR LF
    EXPECT_FALSE(qv::FindSettingsWords("Completed!\r\n"));
}

TEST(SettingsLine, TheWriteCarriesTheFirstEntriesAndFfffForEmptyLists) {
    EXPECT_EQ(qv::FormatSettingsWrite({}), Words(kAllNone) + "$9999*\r\n");
    EXPECT_EQ(qv::FormatSettingsWrite({}).size(), 96u);

    qv::SettingsLists lists;
    lists.user_speed = {60, 80};
    lists.warning_by_second = {20, 99};
    lists.gmt = {-300};
    lists.time_set = {1};
    lists.speed_unit = {0};
    EXPECT_EQ(qv::FormatSettingsWrite(lists),
              Words("003C 0050 FFFF FFFF FFFF FFFF FFFF FFFF 0014 FED4 FFFF FFFF FFFF FFFF 0001 "
                    "0000 ") +
                  "$9999*\r\n");

    lists.user_speed = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(qv::FormatSettingsWrite(lists).substr(6, 25), "0001 0002 0003 0004 0005 ");
    // A value beyond 16 bits goes as its low 16 bits.
    lists.gmt = {0x12345};
    EXPECT_EQ(qv::FormatSettingsWrite(lists).substr(6 + 9 * 5, 5), "2345 ");
}

TEST(HexWord, ReadsLikeTheDeviceWritesAndToleratesWhatItDoesNot) {
    const auto parse = [](const std::string& text) {
        return qv::ParseHexWord(text.data(), text.data() + text.size());
    };
    EXPECT_EQ(parse("FFC4"), 0xFFC4);
    EXPECT_EQ(parse("ffc4"), 0xFFC4);
    EXPECT_EQ(parse("  12"), 0x12);
    EXPECT_EQ(parse("0x1F"), 0x1F);
    EXPECT_EQ(parse("-1"), 0xFFFF);
    EXPECT_EQ(parse("12G4"), 0x12);
    EXPECT_EQ(parse("zz"), 0);
    EXPECT_EQ(parse("0x"), 0);
    EXPECT_EQ(parse("123456"), 0x3456);
    // The end bounds the digits: nothing past it is read.
    const std::string text = "12345";
    EXPECT_EQ(qv::ParseHexWord(text.data(), text.data() + 2), 0x12);
}

TEST(UserPoint, PackingDropsBitsBeyondEachFieldAndUnpackingRestoresTheRest) {
    UserPointEntry e{};
    e.w0Bits0to3 = 17;  // 1 survives
    e.w0Bits4to9 = 0x7F;
    e.w0Bits10to15 = 0x41;
    e.w1Bits0to1 = 7;
    e.w1Bits2to5 = 0x1F;
    e.w1Bits6to10 = 0x3F;
    e.w1Bits11to15 = 0x21;
    e.word2 = 0xBEEF;
    e.latitude = -3513820;
    e.word5 = 5;
    e.longitude = 13912345;
    e.direction = -90;
    e.word9 = -2;
    e.word10 = 0xFFFF;
    const qv::UserPointRecord r = qv::PackUserPoint(e);
    EXPECT_EQ(r.word0, 0x1 | 0x3F << 4 | 0x1 << 10);
    EXPECT_EQ(r.word1, 0x3 | 0xF << 2 | 0x1F << 6 | 0x1 << 11);
    const UserPointEntry back = qv::UnpackUserPoint(r);
    EXPECT_EQ(back.w0Bits0to3, 1);
    EXPECT_EQ(back.w0Bits4to9, 0x3F);
    EXPECT_EQ(back.w0Bits10to15, 1);
    EXPECT_EQ(back.w1Bits0to1, 3);
    EXPECT_EQ(back.w1Bits2to5, 0xF);
    EXPECT_EQ(back.w1Bits6to10, 0x1F);
    EXPECT_EQ(back.w1Bits11to15, 1);
    EXPECT_EQ(back.word2, 0xBEEF);
    EXPECT_EQ(back.latitude, -3513820);
    EXPECT_EQ(back.word5, 5);
    EXPECT_EQ(back.longitude, 13912345);
    EXPECT_EQ(back.direction, -90);
    EXPECT_EQ(back.word9, -2);
    EXPECT_EQ(back.word10, 0xFFFF);
}

TEST(UserPoint, KeepCheckBounds) {
    const auto keep = [](unsigned month, unsigned bits11to15, unsigned bits4to9) {
        qv::UserPointRecord r;
        r.word0 = static_cast<uint16_t>(month | bits4to9 << 4);
        r.word1 = static_cast<uint16_t>(bits11to15 << 11);
        return qv::KeepUserPoint(r);
    };
    EXPECT_FALSE(keep(0, 0, 0));
    EXPECT_TRUE(keep(1, 0, 0));
    EXPECT_TRUE(keep(12, 24, 60));
    EXPECT_FALSE(keep(13, 0, 0));
    EXPECT_FALSE(keep(5, 25, 0));
    EXPECT_FALSE(keep(5, 0, 61));
}

TEST(UserPointLine, LatitudeAndLongitudeAreTwoWordsLowFirst) {
    const std::string line =
        PointLine("0000", "0015 0000 0007 9DDC 0035 0009 6224 FFCA FFA6 FFFE 1234 ");
    ASSERT_EQ(line.size(), 63u);
    const auto r = qv::ParseUserPointLine(line.data(), line.data() + 61);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->latitude, 3513820);
    EXPECT_EQ(r->longitude, -3513820);
    EXPECT_EQ(r->word2, 7);
    EXPECT_EQ(r->word5, 9);
    EXPECT_EQ(r->direction, -90);
    EXPECT_EQ(r->word9, -2);
    EXPECT_EQ(r->word10, 0x1234);
    // Written back, words 2 and 5 are zero and the rest travels unchanged.
    EXPECT_EQ(qv::FormatUserPointLine(12, *r),
              PointLine("0012", "0015 0000 0000 9DDC 0035 0000 6224 FFCA FFA6 FFFE 1234 "));
}

TEST(UserPointLine, AShortLineGivesNothingAndALongOneOnlyItsWords) {
    const std::string full =
        PointLine("0001", "0011 0000 0000 0001 0000 0000 0002 0000 0000 0000 0000 ");
    const char* cr = full.data() + 61;
    EXPECT_TRUE(qv::ParseUserPointLine(full.data(), cr));
    EXPECT_FALSE(qv::ParseUserPointLine(full.data(), cr - 1));
    const std::string longer = full.substr(0, 61) + "ABCD EF\r\n";
    const auto r = qv::ParseUserPointLine(longer.data(), longer.data() + longer.size() - 2);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->word10, 0);
    // Words packed tighter than their places are read only within their four characters.
    const std::string tight = "$0002*0011" + std::string(60, '7') + "\r\n";
    const auto t = qv::ParseUserPointLine(tight.data(), tight.data() + tight.size() - 2);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->word0, 0x0011);
    EXPECT_EQ(t->word1, 0x7777);
}

TEST(UserPointReply, EveryDollarLineUpToLine9999IsCheckedAndKeptInOrder) {
    const std::string valid1 =
        PointLine("0000", "0011 0000 0000 0001 0000 0000 0001 0000 0000 0000 0000 ");
    const std::string invalid =
        PointLine("0001", "0010 0000 0000 0002 0000 0000 0002 0000 0000 0000 0000 ");
    const std::string valid2 =
        PointLine("0002", "001C 0000 0000 0003 0000 0000 0003 0000 0000 0000 0000 ");
    const std::string before =
        PointLine("7777", "0001 0000 0000 0004 0000 0000 0004 0000 0000 0000 0000 ");
    const std::string after =
        PointLine("0003", "0001 0000 0000 0005 0000 0000 0005 0000 0000 0000 0000 ");
    const std::string reply = "noise " + before + "\r\n" + valid1 + invalid + valid2 +
                              "$9999*\r\n" + after + "Completed!\r\n";
    const auto kept = qv::KeptUserPoints(reply.c_str());
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].latitude, 4);  // a line before the first one counts too
    EXPECT_EQ(kept[1].latitude, 1);
    EXPECT_EQ(kept[2].latitude, 3);
    // A reply cut inside a line stops the walk without reading past the text.
    EXPECT_EQ(qv::KeptUserPoints((valid1 + valid2.substr(0, 30)).c_str()).size(), 1u);
    EXPECT_TRUE(qv::KeptUserPoints("$9999*\r\n").empty());
}
