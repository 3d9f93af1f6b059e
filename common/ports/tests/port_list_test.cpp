#include "common/ports/port_list.h"

#include <gtest/gtest.h>

namespace {

using qvports::FormatPortList;
using qvports::ParsePortList;

TEST(PortListTest, NumbersAndRangesGiveSortedPortsWithoutRepeats) {
    EXPECT_EQ(ParsePortList("3", nullptr), (std::vector<int>{3}));
    EXPECT_EQ(ParsePortList("8,3,5-7", nullptr), (std::vector<int>{3, 5, 6, 7, 8}));
    EXPECT_EQ(ParsePortList("5-6,6-7,5", nullptr), (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(ParsePortList("3-18", nullptr)->size(), 16u);
    EXPECT_EQ(ParsePortList("255", nullptr), (std::vector<int>{255}));
}

TEST(PortListTest, AnythingElseIsRefusedWithItsReason) {
    for (const char* bad : {"", ",", "3,", ",3", "0", "256", "3-", "-3", "3--5", "a", "3 ", " 3",
                            "3-5-7", "+3", "99999999999"}) {
        std::string error;
        EXPECT_FALSE(ParsePortList(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    std::string error;
    EXPECT_FALSE(ParsePortList("8-3", &error));
    EXPECT_EQ(error, "the range '8-3' is reversed");
}

TEST(PortListTest, FormattingGivesTheShortestListThatParsesBack) {
    EXPECT_EQ(FormatPortList({7, 3, 4, 5, 5}), "3-5,7");
    EXPECT_EQ(FormatPortList({}), "");
    EXPECT_EQ(FormatPortList({1, 3, 5}), "1,3,5");
    const std::vector<int> ports = {2, 3, 4, 10, 11, 40};
    EXPECT_EQ(ParsePortList(FormatPortList(ports), nullptr), ports);
}

}  // namespace
