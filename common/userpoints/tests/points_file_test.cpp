#include "common/userpoints/points_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qvpoints {
namespace {

UserPointEntry Point(std::int32_t lat, std::int32_t lon, std::int16_t direction) {
    UserPointEntry p{};
    p.w0Bits0to3 = 12;
    p.w0Bits4to9 = 60;
    p.w0Bits10to15 = 63;
    p.w1Bits0to1 = 3;
    p.w1Bits2to5 = 15;
    p.w1Bits6to10 = 31;
    p.w1Bits11to15 = 24;
    p.word2 = 65535;
    p.latitude = lat;
    p.word5 = 1;
    p.longitude = lon;
    p.direction = direction;
    p.word9 = -32768;
    p.word10 = 4660;
    return p;
}

bool Same(const UserPointEntry& a, const UserPointEntry& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Points that stress every field: the extremes of each width, negative and out-of-GPX positions.
std::vector<UserPointEntry> HardPoints() {
    std::vector<UserPointEntry> points = {
        Point(3513820, 12582960, 100),
        Point(-3513820, -12582960, -1),
        Point(9000000, -18000000, 32767),
        Point(0, 18000000, 1),  // 180 degrees east: beyond GPX's range, which ends below it
        Point(INT32_MIN, INT32_MAX, -32768),  // beyond GPX's ranges: kept raw in the extension
        Point(0, 1, 0),
    };
    points[4].w0Bits0to3 = 1;
    points[4].w0Bits4to9 = 0;
    points[4].w1Bits11to15 = 0;
    return points;
}

TEST(PointsFileTest, GpxAndCsvKeepEveryFieldExactly) {
    const auto points = HardPoints();
    for (const auto format : {PointsFormat::kGpx, PointsFormat::kCsv}) {
        const std::string text = format == PointsFormat::kGpx ? WriteGpx(points) : WriteCsv(points);
        const PointsParseResult back = ParsePoints(format, text);
        ASSERT_TRUE(back.ok()) << back.error_line << ": " << back.error << "\n" << text;
        ASSERT_EQ(back.points.size(), points.size());
        for (size_t i = 0; i < points.size(); ++i)
            EXPECT_TRUE(Same(back.points[i], points[i])) << i;
    }
    EXPECT_TRUE(ParseGpx(WriteGpx({})).ok());
    EXPECT_TRUE(ParseGpx(WriteGpx({})).points.empty());
    EXPECT_TRUE(ParseCsv(WriteCsv({})).ok());
}

TEST(PointsFileTest, ABackupCarriesItsAttributesInTheMetadata) {
    const Attributes backup = {{"link", "serial"}, {"speeds", "80,100"}, {"gmt", "-300"}};
    const std::string gpx = WriteGpx(HardPoints(), backup);
    const PointsParseResult r = ParseGpx(gpx);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.backup, backup);
    EXPECT_EQ(r.points.size(), HardPoints().size());
    EXPECT_TRUE(ParseGpx(WriteGpx(HardPoints())).backup.empty());
}

TEST(PointsFileTest, GpxWaypointsCarryTheirPositionInDegreesWithinGpxRanges) {
    const std::string gpx = WriteGpx(HardPoints());
    EXPECT_NE(gpx.find("<gpx version=\"1.1\""), std::string::npos);
    EXPECT_NE(gpx.find("<wpt lat=\"35.13820\" lon=\"125.82960\">"), std::string::npos) << gpx;
    EXPECT_NE(gpx.find("<wpt lat=\"-35.13820\" lon=\"-125.82960\">"), std::string::npos);
    // The out-of-range point: clamped in the waypoint, the device's value in the extension.
    EXPECT_NE(gpx.find("<wpt lat=\"-90.00000\" lon=\"179.99999\">"), std::string::npos);
    EXPECT_NE(gpx.find("latitude=\"-2147483648\" longitude=\"2147483647\""), std::string::npos);
}

TEST(PointsFileTest, AMovedWaypointTakesItsNewPosition) {
    // A map program moved the first point and wrote more decimals than the device keeps.
    std::string gpx = WriteGpx({Point(3513820, 12582960, 100)});
    const std::string from = "lat=\"35.13820\" lon=\"125.82960\"";
    gpx.replace(gpx.find(from), from.size(), "lon=\"-0.000004\" lat=\"48.1372049999\"");
    const PointsParseResult r = ParseGpx(gpx);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.points[0].latitude, 4813720);
    EXPECT_EQ(r.points[0].longitude, 0);
    EXPECT_EQ(r.points[0].direction, 100);
}

TEST(PointsFileTest, DegreesTextIsExactAndRoundsToTheNearestUnit) {
    EXPECT_EQ(FormatDegrees(-3513820), "-35.13820");
    EXPECT_EQ(FormatDegrees(-5), "-0.00005");
    EXPECT_EQ(FormatDegrees(INT32_MIN), "-21474.83648");
    EXPECT_EQ(ParseDegrees("-21474.83648"), INT32_MIN);
    EXPECT_EQ(ParseDegrees("21474.83647"), INT32_MAX);
    EXPECT_EQ(ParseDegrees("21474.83648"), std::nullopt);
    EXPECT_EQ(ParseDegrees("1.000005"), 100001);
    EXPECT_EQ(ParseDegrees("-1.000005"), -100001);
    EXPECT_EQ(ParseDegrees("1.0000049"), 100000);
    EXPECT_EQ(ParseDegrees("+7"), 700000);
    EXPECT_EQ(ParseDegrees(".5"), 50000);
    for (const char* bad :
         {"", "-", ".", "1e3", "1.2.3", "12a", " 1", "0x10", "nan", "99999999999999999999"}) {
        EXPECT_EQ(ParseDegrees(bad), std::nullopt) << bad;
    }
}

struct Faulty {
    int line;
    const char* reason;  // a part of the reason
};

TEST(PointsFileTest, FaultyGpxIsRefusedWithLineAndReason) {
    const std::string good = WriteGpx({Point(3513820, 12582960, 100)});
    auto with = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const std::vector<std::pair<std::string, Faulty>> cases = {
        {"<gpx><wpt lat=\"1\"", {1, "not well-formed XML"}},
        {"<?xml version=\"1.0\"?>\n<kml/>", {2, "root element is not <gpx>"}},
        {with("lat=\"35.13820\"", "lat=\"north\""), {6, "lat \"north\""}},
        {with("lat=\"35.13820\"", "lat=\"90.00001\""), {6, "from -90 to 90"}},
        {with("lat=\"35.13820\" ", ""), {6, "waypoint without lat"}},
        {with("<qv:point", "<qv:other"), {6, "without its <qv:point>"}},
        {with("w1Bits2to5=\"15\"", "w1Bits2to5=\"16\""), {9, "w1Bits2to5 16 is outside 0-15"}},
        {with("word2=\"65535\"", "word2=\"-1\""), {9, "word2 -1 is outside 0-65535"}},
        {with(" word10=\"4660\"", ""), {9, "without word10"}},
        {with("direction=\"100\"", "direction=\"1.5\""), {9, "not a whole number"}},
        {with("w0Bits0to3=\"12\"", "w0Bits0to3=\"0\""), {9, "must be 1-12"}},
        {with("w1Bits11to15=\"24\"", "w1Bits11to15=\"25\""), {9, "at most 24"}},
        {with("w0Bits4to9=\"60\"", "w0Bits4to9=\"61\""), {9, "at most 60"}},
        {with("direction=", "latitude=\"12x\" direction="), {9, "latitude \"12x\""}},
    };
    for (const auto& [text, want] : cases) {
        const PointsParseResult r = ParseGpx(text);
        EXPECT_FALSE(r.ok()) << text;
        EXPECT_TRUE(r.points.empty());
        EXPECT_EQ(r.error_line, want.line) << r.error << "\n" << text;
        EXPECT_NE(r.error.find(want.reason), std::string::npos) << r.error;
    }
}

TEST(PointsFileTest, FaultyCsvIsRefusedWithLineAndReason) {
    const std::string header = WriteCsv({}).substr(0, WriteCsv({}).size() - 1);
    const std::string row = "1,35.13820,125.82960,100,12,60,63,3,15,31,24,65535,1,-32768,4660";
    // A spreadsheet's byte order mark, CR LF ends, quotes, blank and comment lines are fine.
    const PointsParseResult fine = ParseCsv("\xEF\xBB\xBF" + header + "\r\n\r\n# saved\r\n\"" +
                                            row.substr(0, 1) + "\"" + row.substr(1) + "\r\n");
    ASSERT_TRUE(fine.ok()) << fine.error_line << ": " << fine.error;
    ASSERT_EQ(fine.points.size(), 1u);
    EXPECT_TRUE(Same(fine.points[0], Point(3513820, 12582960, 100)));
    // The direction as an unsigned number, as spreadsheet exports write it.
    EXPECT_EQ(ParseCsv(header + "\n" + "1,0,0,65535" + row.substr(row.find(",12,")))
                  .points.at(0)
                  .direction,
              -1);

    const std::vector<std::pair<std::string, Faulty>> cases = {
        {"", {1, "no header"}},
        {"No\tLat\tLong\tDir\n", {1, "the first line must be the header"}},
        {header + "\n" + row + "\n" + row + ",7\n", {3, "15 fields expected, 16 found"}},
        {header + "\n" + "x" + row.substr(1), {2, "number \"x\""}},
        {header + "\n\n" + "1,35.1.3" + row.substr(row.find(",125")), {3, "latitude"}},
        {header + "\n" + "1,1,east" + row.substr(row.find(",100")), {2, "longitude"}},
        {header + "\n" + "1,1,1,65536" + row.substr(row.find(",12,")), {2, "direction 65536"}},
        {header + "\n" + "1,1,1,0,13" + row.substr(row.find(",60,")), {2, "must be 1-12"}},
        {header + "\n" + row + "\n" + std::string("1,\0,2", 5), {3, "NUL"}},
    };
    for (const auto& [text, want] : cases) {
        const PointsParseResult r = ParseCsv(text);
        EXPECT_FALSE(r.ok()) << text;
        EXPECT_TRUE(r.points.empty());
        EXPECT_EQ(r.error_line, want.line) << r.error << "\n" << text;
        EXPECT_NE(r.error.find(want.reason), std::string::npos) << r.error;
    }
}

TEST(PointsFileTest, MoreThanTheDeviceHoldsIsRefused) {
    std::vector<UserPointEntry> points(kMaxPointsInFile, Point(1, 2, 3));
    EXPECT_TRUE(ParseCsv(WriteCsv(points)).ok());
    points.push_back(Point(1, 2, 3));
    const PointsParseResult csv = ParseCsv(WriteCsv(points));
    EXPECT_EQ(csv.error_line, 10001);
    EXPECT_NE(csv.error.find("more than 9999"), std::string::npos);
    EXPECT_NE(ParseGpx(WriteGpx(points)).error.find("more than 9999"), std::string::npos);
}

TEST(PointsFileTest, FormatComesFromTheExtension) {
    EXPECT_EQ(PointsFormatOf("a/b.GPX"), PointsFormat::kGpx);
    EXPECT_EQ(PointsFormatOf("points.csv"), PointsFormat::kCsv);
    EXPECT_EQ(PointsFormatOf("points.xls"), std::nullopt);
    EXPECT_EQ(PointsFormatOf("dir.gpx/points"), std::nullopt);
    EXPECT_EQ(PointsFormatOf("gpx"), std::nullopt);
}

}  // namespace
}  // namespace qvpoints
