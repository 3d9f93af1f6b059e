// The progress bar's text.
#include "progress.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressFormat, BytesAndDurations) {
    EXPECT_EQ(qvctl::FormatBytes(512), "512 B");
    EXPECT_EQ(qvctl::FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(qvctl::FormatBytes(3 * 1024 * 1024), "3.0 MiB");
    EXPECT_EQ(qvctl::FormatDuration(0), "0:00");
    EXPECT_EQ(qvctl::FormatDuration(59.6), "1:00");
    EXPECT_EQ(qvctl::FormatDuration(3725), "1:02:05");
    EXPECT_EQ(qvctl::FormatDuration(-3), "0:00");
}

TEST(ProgressFormat, BarShowsShareRateAndTimeLeft) {
    // Half of 20 KiB in 1 s: 10 KiB/s, 1 s left.
    const std::string half = qvctl::FormatProgressBar(10240, 20480, 1.0);
    EXPECT_EQ(half.substr(0, 32), "[" + std::string(15, '#') + std::string(15, '-') + "]");
    EXPECT_NE(half.find(" 50%"), std::string::npos) << half;
    EXPECT_NE(half.find("10.0 KiB / 20.0 KiB"), std::string::npos) << half;
    EXPECT_NE(half.find("10.0 KiB/s"), std::string::npos) << half;
    EXPECT_NE(half.find("0:01 left"), std::string::npos) << half;
}

TEST(ProgressFormat, EdgesNeitherOverflowNorDivideByZero) {
    const std::string start = qvctl::FormatProgressBar(0, 1000, 0.0);
    EXPECT_NE(start.find("  0%"), std::string::npos) << start;
    EXPECT_EQ(start.find("/s"), std::string::npos) << start;  // no rate yet
    const std::string unknown = qvctl::FormatProgressBar(0, 0, 2.0);
    EXPECT_NE(unknown.find("  0%"), std::string::npos) << unknown;
    const std::string over = qvctl::FormatProgressBar(2000, 1000, 1.0);
    EXPECT_NE(over.find("100%"), std::string::npos) << over;
    EXPECT_EQ(over.find("left"), std::string::npos) << over;
    EXPECT_EQ(over.find('-'), std::string::npos) << over;
}

}  // namespace
