// The model table: parsing "model.txt", the built-in rows, and lookups.
#include "qvlib/session/model_table.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

using qv::ModelInfo;

namespace {

std::vector<ModelInfo> Parse(std::string text) {
    FILE* f = fmemopen(text.data(), text.size(), "r");
    auto rows = qv::ParseModelFile(f);
    fclose(f);
    return rows;
}

}  // namespace

TEST(ModelFile, FourOrSixFieldsMakeARowAndEmptyFieldsAreSkipped) {
    auto rows = Parse(
        "AAA,ID1,4800,115200\n"
        "BBB,,ID2,,9600,19200\n"     // empty fields skipped: four fields
        "CCC,ID3,4800\n"             // three: ignored
        "DDD,ID4,4800,115200,x\n"    // five: ignored
        "EEE,ID5,57600,38400,x,y\n"  // six: the first four count
        "FFF,ID6,4800,115200,\r\n"   // a trailing comma and a CRLF line end
        "\n");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, "AAA");
    EXPECT_EQ(rows[0].id_code, "ID1");
    EXPECT_EQ(rows[0].nmea_baud, 4800);
    EXPECT_EQ(rows[0].command_baud, 115200);
    EXPECT_EQ(rows[1].name, "BBB");
    EXPECT_EQ(rows[1].command_baud, 19200);
    EXPECT_EQ(rows[2].name, "EEE");
    EXPECT_EQ(rows[2].nmea_baud, 57600);
    EXPECT_EQ(rows[3].name, "FFF");
    EXPECT_EQ(rows[3].command_baud, 115200);
}

TEST(ModelFile, FieldsAreNotTrimmedAndNumbersReadLikeTheCLibrary) {
    auto rows = Parse(" A ,ID,  -4800x, abc\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, " A ");
    EXPECT_EQ(rows[0].nmea_baud, -4800);
    EXPECT_EQ(rows[0].command_baud, 0);
    auto big = Parse("A,ID,99999999999999,1\n");
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].nmea_baud, INT32_MAX);
}

TEST(ModelFile, AnOverlongLineEndsReading) {
    std::string text = "A,ID,1,2\n" + std::string(1500, 'x') + "\nB,ID,1,2\n";
    auto rows = Parse(text);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "A");
    // A last line without a line end still counts.
    EXPECT_EQ(Parse("A,ID,1,2\nB,ID,3,4").size(), 2u);
}

TEST(ModelTable, BuiltInRowsFollowTheProductList) {
    const auto& rows = qv::BuiltInModels();
    ASSERT_EQ(rows.size(), 12u);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].name.size(), 6u);
        EXPECT_EQ(rows[i].id_code.size(), 7u);
        EXPECT_EQ(rows[i].command_baud, 115200);
        EXPECT_EQ(rows[i].nmea_baud, (i == 0 || i == 11) ? 115200 : 4800);
    }
    EXPECT_EQ(qv::DefaultModel().name, rows[5].name);
}

TEST(ModelTable, MissingFileGivesBuiltInRowsAndLookupIsExact) {
    qv::ModelTable table;
    table.Load("/nonexistent/model.txt");
    EXPECT_EQ(table.Rows().size(), 12u);
    EXPECT_TRUE(table.Find("Z31STD").has_value());
    EXPECT_FALSE(table.Find("z31std").has_value());
    EXPECT_FALSE(table.Find("").has_value());
}
