// The three command-text rules side by side: the same typed text means different things in a
// table cell, a maintenance row and the console, and each must keep meaning what it always did.
#include "DeviceBenchCore/manager/command_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(CommandTextTest, NumbersAreDecimalOrOctalInTheTablesButAlwaysHexInTheConsole) {
    struct Case {
        const char* text;
        uint8_t table_and_row_code;
        uint32_t console_code;
    };
    for (const Case& c : {Case{"0x10", 0x10, 0x10}, Case{"16", 16, 0x16}, Case{"010", 8, 0x10},
                          Case{"0X1b", 0x1B, 0x1B}}) {
        SCOPED_TRACE(c.text);
        CmxCommand cell;
        ASSERT_TRUE(CmxCommand::FromText(c.text, cell));
        EXPECT_EQ(cell.code, c.table_and_row_code);
        EXPECT_FALSE(cell.extended);
        const MaintenanceRequest row = command_text::ParseMaintenanceCommand(c.text, {0xAB});
        EXPECT_EQ(row.code, c.table_and_row_code);
        EXPECT_EQ(row.payload, Bytes{0xAB});
        EXPECT_EQ(command_text::ParseConsole(c.text, "", 0xFF).code, c.console_code);
    }
}

TEST(CommandTextTest, LongTextsSpellBytesAndOnlyTheMaintenanceRuleKeepsAnOddLastDigit) {
    CmxCommand cell;
    ASSERT_TRUE(CmxCommand::FromText("0x123", cell));  // five characters: extended in a cell
    EXPECT_EQ(cell.code, 0xFF);
    EXPECT_EQ(cell.prefix, Bytes{0x12});  // the odd "3" spells no byte
    const MaintenanceRequest row = command_text::ParseMaintenanceCommand("0x123", {0x01});
    EXPECT_EQ(row.code, 0xFF);
    EXPECT_EQ(row.payload, (Bytes{0x12, 0x03, 0x01}));  // a one-digit byte, then the row's
    EXPECT_THROW(command_text::ParseConsole("0x123", "", 0xFF), std::out_of_range);
    EXPECT_EQ(command_text::ParseConsole("0x123", "", 0xFFFF).code, 0x123u);

    // Four characters: still a number in a cell, but a maintenance row's number too.
    ASSERT_TRUE(CmxCommand::FromText("0x7f", cell));
    EXPECT_EQ(cell.code, 0x7F);
    ASSERT_TRUE(CmxCommand::FromText("0x0000015A", cell));
    EXPECT_EQ(cell.prefix, (Bytes{0x00, 0x00, 0x01, 0x5A}));
    EXPECT_EQ(command_text::ParseMaintenanceCommand("0x0000015A", {}).payload,
              (Bytes{0x00, 0x00, 0x01, 0x5A}));
}

TEST(CommandTextTest, TextsThatNameNoCommandAreRefusedByEveryRule) {
    for (const char* text : {"", "1G", "0x1G", "0x00000G5A"}) {
        SCOPED_TRACE(text);
        CmxCommand cell;
        EXPECT_FALSE(CmxCommand::FromText(text, cell));
        EXPECT_THROW(command_text::ParseMaintenanceCommand(text, {}), OperationError);
        EXPECT_THROW(command_text::ParseConsole(text, "", 0xFFFF), std::logic_error);
    }
    // The console reads each payload piece whole: "0102" is not two bytes, nor is "1 2 3" one.
    EXPECT_THROW(command_text::ParseConsole("07", "0102", 0xFF), std::out_of_range);
    EXPECT_EQ(command_text::ParseConsole("07", "1 2 3", 0xFF).payload, (Bytes{1, 2, 3}));
}

}  // namespace
