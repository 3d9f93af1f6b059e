#include "orvixtool/settingspage/user_point_export.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace devod::usersettings {
namespace {

TEST(UserPointDecoding, CountIsLimitedToTheBytesHeld) {
    PointBytes bytes{};
    EXPECT_EQ(DecodeUserPoints(bytes, 255).size(), 100u);
    EXPECT_EQ(DecodeUserPoints(std::span<const uint8_t>(bytes.data(), 19), 5).size(), 1u);
}

TEST(UserPointText, ExtremeCoordinatesFitTheLine) {
    std::vector<UserPoint> points = {{1, INT32_MIN, INT32_MAX}};
    EXPECT_EQ(FormatUserPoints(points),
              "No\tLat\tLong\tDir\r\n1\t-21474.83648\t21474.83647\t1\r\n");
}

// A file that is created but cannot be written is reported, not taken for saved.
TEST(SaveTextFile, FullDiskIsReported) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(SaveTextFile("/dev/full", "x"),
              "Cannot write the file /dev/full: No space left on device");
}

}  // namespace
}  // namespace devod::usersettings
