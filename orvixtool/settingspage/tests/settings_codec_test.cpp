#include "orvixtool/settingspage/settings_codec.h"

#include <gtest/gtest.h>

#include <climits>

namespace devod::usersettings {
namespace {

TEST(TimeZoneTable, RowsAreFoundByHoursBeyondTheDatabaseRow) {
    EXPECT_EQ(FindTimeZoneRow(12), 1u);
    EXPECT_EQ(FindTimeZoneRow(0), 13u);
    EXPECT_EQ(FindTimeZoneRow(-11), 24u);
    EXPECT_FALSE(FindTimeZoneRow(kDefaultZoneHours));
    EXPECT_FALSE(FindTimeZoneRow(13));
    EXPECT_FALSE(FindTimeZoneRow(127));
    // Every row from 1 on is found at its own place: no two rows share their hours.
    for (size_t row = 1; row < kTimeZones.size(); ++row) {
        EXPECT_EQ(FindTimeZoneRow(kTimeZones[row].hours), row);
        EXPECT_EQ(FindTimeZoneByName(kTimeZones[row].name), row);
    }
    EXPECT_EQ(FindTimeZoneByName("Default(DB zone Time)"), 0u);
    EXPECT_FALSE(FindTimeZoneByName("9 (Seoul"));
}

TEST(OffsetByte, SignMagnitudeBothWays) {
    EXPECT_EQ(DecodeOffset(0x89), -9);
    EXPECT_EQ(DecodeOffset(0x09), 9);
    EXPECT_EQ(DecodeOffset(0x80), 0);
    EXPECT_EQ(DecodeOffset(0xFF), -127);
    EXPECT_EQ(DecodeOffset(0x7F), 127);
    EXPECT_EQ(EncodeOffset(-5), 0x85);
    EXPECT_EQ(EncodeOffset(10), 0x0A);
    EXPECT_EQ(EncodeOffset(0), 0x00);
    for (int hours = -127; hours <= 127; ++hours) {
        EXPECT_EQ(DecodeOffset(EncodeOffset(hours)), hours);
    }
    // Beyond seven bits the magnitude is held, the sign kept.
    EXPECT_EQ(EncodeOffset(200), 0x7F);
    EXPECT_EQ(EncodeOffset(-200), 0xFF);
    EXPECT_EQ(EncodeOffset(INT_MIN), 0xFF);
}

TEST(SpeedField, ReadsLikeAtoiAndHoldsAtTheIntLimits) {
    EXPECT_EQ(ParseSpeedField(""), 0);
    EXPECT_EQ(ParseSpeedField("abc"), 0);
    EXPECT_EQ(ParseSpeedField("255"), 255);
    EXPECT_EQ(ParseSpeedField("  42km"), 42);
    EXPECT_EQ(ParseSpeedField("-7"), -7);
    EXPECT_EQ(ParseSpeedField("+8"), 8);
    EXPECT_EQ(ParseSpeedField("-"), 0);
    EXPECT_EQ(ParseSpeedField("2147483647"), INT_MAX);
    EXPECT_EQ(ParseSpeedField("2147483648"), INT_MAX);
    EXPECT_EQ(ParseSpeedField("99999999999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseSpeedField("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseSpeedField("-99999999999999999999999999"), INT_MIN);
}

}  // namespace
}  // namespace devod::usersettings
