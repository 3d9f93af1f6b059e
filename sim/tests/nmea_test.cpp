#include "sim/nmea.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "sim/tests/nmea_check.h"

namespace z31sim {
namespace {

using testing::Fields;
using testing::Sentences;
using testing::ValidNmea;

constexpr std::time_t kStart = 1709642096;  // 2024-03-05 12:34:56 UTC

TEST(NmeaTest, SentenceCarriesChecksumAndEnding) {
    const std::string s = NmeaSentence("GPXXX,1,A");
    EXPECT_TRUE(ValidNmea(s)) << s;
    EXPECT_TRUE(s.starts_with("$GPXXX,1,A*"));
    EXPECT_FALSE(ValidNmea("$GPXXX,1,B" + s.substr(10)));  // a changed byte breaks the sum
}

class NmeaTrackTest : public ::testing::Test {
protected:
    NmeaTrack track_{kStart, 48.1372, -11.5756};
};

TEST_F(NmeaTrackTest, BurstHasEachSentenceValidAndInOrder) {
    const std::string burst = track_.NextBurst();
    const auto sentences = Sentences(burst);
    ASSERT_EQ(sentences.size(), 6u);
    std::string joined;
    for (const auto& s : sentences) {
        EXPECT_TRUE(ValidNmea(s)) << s;
        joined += s;
    }
    EXPECT_EQ(joined, burst);  // nothing outside sentences
    const char* kinds[] = {"GPGGA", "GPRMC", "GPGSA", "GPGSV", "GPGSV", "GPGSV"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Fields(sentences[i])[0], kinds[i]);
    EXPECT_EQ(Fields(sentences[2]).size(), 18u);  // GSA: 12 satellite slots, 3 DOPs
    EXPECT_EQ(Fields(sentences[5])[2], "3");      // third of three GSV sentences
}

TEST_F(NmeaTrackTest, FieldsDescribeTheFixTimeAndPosition) {
    const auto sentences = Sentences(track_.NextBurst());
    const auto gga = Fields(sentences[0]);
    EXPECT_EQ(gga[1], "123456.00");
    EXPECT_EQ(gga[2], "4808.2320");  // 48.1372 deg = 48 deg 8.232 min
    EXPECT_EQ(gga[3], "N");
    EXPECT_EQ(gga[4], "01134.5360");
    EXPECT_EQ(gga[5], "W");
    EXPECT_EQ(gga[6], "1");  // GPS fix
    const auto rmc = Fields(sentences[1]);
    EXPECT_EQ(rmc[2], "A");
    EXPECT_EQ(rmc[9], "050324");
    EXPECT_EQ(Fields(Sentences(track_.NextBurst())[0])[1], "123457.00");
}

TEST_F(NmeaTrackTest, PositionMovesSlowly) {
    const double lat0 = track_.latitude();
    const double lon0 = track_.longitude();
    for (int i = 0; i < 10; ++i) track_.NextBurst();
    const double moved = std::abs(track_.latitude() - lat0) + std::abs(track_.longitude() - lon0);
    EXPECT_GT(moved, 1e-5);  // more than about a metre in ten seconds
    EXPECT_LT(moved, 5e-3);  // less than a few hundred metres
}

}  // namespace
}  // namespace z31sim
