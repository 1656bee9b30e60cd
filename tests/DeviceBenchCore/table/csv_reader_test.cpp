#include "DeviceBenchCore/table/csv_reader.h"

#include <gtest/gtest.h>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/table_error.h"
#include "tests/DeviceBenchCore/table/table_fixture.h"

namespace {

std::vector<std::vector<std::string>> ReadAll(CsvReader& reader) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> cells;
    while (reader.ReadRow(cells))
        rows.push_back(cells);
    return rows;
}

class DelimiterTest : public ::testing::TestWithParam<char> {};

TEST_P(DelimiterTest, EachDelimiter_IsDetectedAndQuotedCellsKeepIt) {
    const char d = GetParam();
    TableFixture tables;
    const std::string other = d == '|' ? "," : "|";
    const std::string content = std::string("GroupID") + d + "Options" + d +
                                "OptionDescription\r\n" + "1" + d + "\"0" + d + "1\"" + d +
                                "\"0_Off\r\n1_On\"\r\n" + "2" + d + "0" + other + "1" + d +
                                "\"say \"\"hi\"\"\"\n";
    CsvReader reader(tables.WriteRaw("t.csv", content));
    EXPECT_EQ(reader.Delimiter(), d);
    EXPECT_EQ(reader.Header(),
              (std::vector<std::string>{"GroupID", "Options", "OptionDescription"}));
    auto rows = ReadAll(reader);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], std::string("0") + d + "1");
    EXPECT_EQ(rows[0][2], "0_Off\r\n1_On");
    EXPECT_EQ(rows[1][1], "0" + other + "1");
    EXPECT_EQ(rows[1][2], "say \"hi\"");
    EXPECT_EQ(reader.RowNumber(), 3);
}

INSTANTIATE_TEST_SUITE_P(AllDelimiters, DelimiterTest, ::testing::Values(',', '|', '\t', ';', '^'));

TEST(CsvReaderTest, ByteOrderMarkAndShortRows_AreTolerated) {
    TableFixture tables;
    CsvReader reader(tables.WriteRaw("bom.csv", "\xEF\xBB\xBFGroupID;Index;VarName\n1;2\n"));
    EXPECT_EQ(reader.ColumnIndex("GroupID"), 0u);
    auto rows = ReadAll(reader);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size(), 2u);
    EXPECT_THROW(reader.ColumnIndex("Unit"), TableError);
}

TEST(CsvReaderTest, MalformedFiles_FailWithFileRowAndColumn) {
    TableFixture tables;
    struct Case {
        std::string content;
        int row;
        std::string column;
        std::string reason_part;
    };
    const std::vector<Case> cases = {
        {"A,B,C\n1,2,3\n4,\"open,6\n7,8,9\n", 3, "B", "unterminated quote"},
        {"A,B,C\n1,2,3\n4,5\"x\",6\n", 3, "B", "malformed quotes"},
        {"A,B\n1,\"2\"x\n", 2, "B", "malformed quotes"},
        {"", 1, "", "empty"},
    };
    for (const Case& c : cases) {
        const std::string path = tables.WriteRaw("bad.csv", c.content);
        try {
            CsvReader reader(path);
            std::vector<std::string> cells;
            int good_rows = 0;
            while (reader.ReadRow(cells))
                ++good_rows;
            FAIL() << "no error for: " << c.content;
        } catch (const TableError& e) {
            EXPECT_EQ(e.row(), c.row) << c.content;
            EXPECT_EQ(e.column(), c.column) << c.content;
            EXPECT_NE(e.reason().find(c.reason_part), std::string::npos) << e.what();
            EXPECT_EQ(e.file(), path);
        }
    }
}

TEST(CsvReaderTest, RowsBeforeAFault_AreHandedOutFirst) {
    TableFixture tables;
    CsvReader reader(tables.WriteRaw("late.csv", "A,B\n1,2\n3,4\n5,\"6\n"));
    std::vector<std::string> cells;
    EXPECT_TRUE(reader.ReadRow(cells));
    EXPECT_TRUE(reader.ReadRow(cells));
    EXPECT_EQ(cells, (std::vector<std::string>{"3", "4"}));
    EXPECT_THROW(reader.ReadRow(cells), TableError);
}

TEST(CsvReaderTest, HugeOrWideInput_IsRefusedNotSwallowed) {
    TableFixture tables;
    std::string wide = "A\n" + std::string(CsvReader::kMaxColumns + 5, ',') + "\n";
    CsvReader wide_reader(tables.WriteRaw("wide.csv", wide));
    std::vector<std::string> cells;
    EXPECT_THROW(wide_reader.ReadRow(cells), TableError);

    // One variable, then rows that define nothing, until the file passes the limit.
    std::string line =
        TableFixture::Row({{"GroupID", "1"}, {"Index", "2"}, {"VarName", std::string(200, 'x')}});
    std::string big = TableFixture::Header() + "\n" +
                      TableFixture::Row({{"GroupID", "1"}, {"Index", "1"}, {"Get", "0x05"}}) + "\n";
    big.reserve(CsvReader::kMaxFileBytes + 4096);
    while (big.size() <= CsvReader::kMaxFileBytes)
        big += line + "\n";
    ConfigParser parser(tables.WriteRaw("big.csv", big));
    parser.SetEchoDiagnostics(false);
    try {
        parser.ExtractConfigInfo();
        FAIL() << "an oversized table must be refused";
    } catch (const TableError& e) {
        EXPECT_NE(e.reason().find("larger than"), std::string::npos);
        EXPECT_GT(e.row(), 2);
    }
    EXPECT_EQ(parser.all_vars().size(), 1u);  // the row before the limit stays loaded
}

TEST(CsvReaderTest, BinaryGarbage_GivesAnErrorOrRowsButNeverCrashes) {
    TableFixture tables;
    std::string garbage;
    uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(state >> 24));
    }
    ConfigParser parser(tables.WriteRaw("garbage.csv", garbage));
    parser.SetEchoDiagnostics(false);
    EXPECT_THROW(parser.ExtractConfigInfo(), TableError);
    ASSERT_FALSE(parser.Diagnostics().empty());
}

}  // namespace
