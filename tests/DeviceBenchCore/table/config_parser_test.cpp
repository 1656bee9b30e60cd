#include "DeviceBenchCore/table/config_parser.h"

#include <gtest/gtest.h>

#include "DeviceBenchCore/table/table_error.h"
#include "tests/DeviceBenchCore/table/table_fixture.h"

namespace {

using Cells = std::map<std::string, std::string>;

Cells Var(const std::string& group, const std::string& index, const std::string& name,
          const std::string& get, const std::string& set = "") {
    return {{"GroupID", group}, {"Index", index},     {"VarName", name}, {"Get", get},
            {"Set", set},       {"VarType", "uint8"}, {"VarLen", "1"}};
}

std::string Row(Cells cells, const Cells& extra = {}) {
    for (const auto& kv : extra)
        cells[kv.first] = kv.second;
    return TableFixture::Row(cells);
}

class ConfigParserTest : public ::testing::Test {
protected:
    ConfigParser& Load(const std::vector<std::string>& rows) {
        parser_.reset(new ConfigParser(tables_.Write("model.csv", rows)));
        parser_->SetEchoDiagnostics(false);
        EXPECT_TRUE(parser_->ExtractConfigInfo());
        return *parser_;
    }
    bool Reported(const std::string& fragment) const {
        for (const auto& d : parser_->Diagnostics()) {
            if (d.text.find(fragment) != std::string::npos) return true;
        }
        return false;
    }

    TableFixture tables_;
    std::unique_ptr<ConfigParser> parser_;
};

TEST_F(ConfigParserTest, GetAndSetLayout_FollowIndexOrderAndTunnelPrefix) {
    ConfigParser& p = Load({
        Row(Var("1", "3", "A", "0x05", "0x25"), {{"VarLen", "4"}, {"SetIndex", "1"}}),
        Row(Var("1", "1", "B", "0x05", "0x25"), {{"VarLen", "2"}, {"SetIndex", "3"}}),
        Row(Var("1", "2", "C", "0x05", "0x25"), {{"VarLen", "1"}, {"SetIndex", "2"}}),
        Row(Var("2", "3", "D", "0x0005"), {{"VarLen", "4"}}),
        Row(Var("2", "1", "E", "0x0005"), {{"VarLen", "2"}}),
        Row(Var("2", "2", "F", "0x0005"), {{"VarLen", "1"}}),
    });
    EXPECT_EQ(p.FindById("1-3")->get_start_pos, 3);
    EXPECT_EQ(p.FindById("1-1")->get_start_pos, 0);
    EXPECT_EQ(p.FindById("1-2")->get_start_pos, 2);
    EXPECT_EQ(p.FindById("1-3")->set_start_pos, 0);
    EXPECT_EQ(p.FindById("1-2")->set_start_pos, 4);
    EXPECT_EQ(p.FindById("1-1")->set_start_pos, 5);
    EXPECT_EQ(p.FindById("2-3")->get_start_pos, 7);
    EXPECT_EQ(p.FindById("2-1")->get_start_pos, 4);
    EXPECT_EQ(p.FindById("2-2")->get_start_pos, 6);
    ASSERT_EQ(p.get_groups().at("0x05").size(), 3u);
    EXPECT_EQ(p.get_groups().at("0x05")[0]->var_name, "B");
    EXPECT_EQ(p.cmd_kinds().at("0x25"), "set");
}

TEST_F(ConfigParserTest, HugeLengthsAndPageNumbers_SaturateInsteadOfWrapping) {
    ConfigParser& p = Load({
        TableFixture::PageRow({"One", "A"}),
        Row(Var("1", "1", "A", "0x05"),
            {{"VarLen", "2000000000"}, {"FunctionModule", "-2147483648_1_1_1"}}),
        Row(Var("1", "2", "B", "0x05"), {{"VarLen", "2000000000"}}),
        Row(Var("1", "3", "C", "0x05"), {{"VarLen", "1"}}),
    });
    EXPECT_EQ(p.FindById("1-2")->get_start_pos, 2000000000);
    EXPECT_EQ(p.FindById("1-3")->get_start_pos, INT32_MAX);
    EXPECT_TRUE(p.pages()[0][0].empty());
}

TEST_F(ConfigParserTest, GetCmdPayload_OnlyPrefixedHexPairsCount) {
    ConfigParser& p = Load({
        Row(Var("1", "1", "Odd", "0x0E"), {{"GetCmdPayload", "0x01020"}}),
        Row(Var("1", "2", "Upper", "0x0E"), {{"GetCmdPayload", "0XaB"}}),
        Row(Var("1", "3", "Short", "0x0E"), {{"GetCmdPayload", "0x1"}}),
        Row(Var("1", "4", "NoPrefix", "0x0E"), {{"GetCmdPayload", "0102"}}),
        Row(Var("1", "5", "NotHex", "0x0E"), {{"GetCmdPayload", "0x0G"}}),
    });
    EXPECT_EQ(p.FindById("1-1")->get_payload_bytes, (std::vector<uint8_t>{0x01, 0x02}));
    EXPECT_EQ(p.FindById("1-1")->get_cmd_payload, "01020");
    EXPECT_EQ(p.FindById("1-2")->get_payload_bytes, (std::vector<uint8_t>{0xAB}));
    for (const char* id : {"1-3", "1-4", "1-5"}) {
        EXPECT_TRUE(p.FindById(id)->get_payload_bytes.empty()) << id;
        EXPECT_TRUE(p.FindById(id)->get_cmd_payload.empty()) << id;
    }
    // Same command, different request payloads: separate reads with their own layouts.
    EXPECT_EQ(p.get_groups().count("0x0E01020"), 1u);
    EXPECT_EQ(p.get_groups().count("0x0EaB"), 1u);
    EXPECT_EQ(p.get_groups().at("0x0E").size(), 3u);
    EXPECT_TRUE(Reported("GetCmdPayload"));
}

TEST_F(ConfigParserTest, RowsThatDefineNothing_AreSkippedAndReported) {
    ConfigParser& p = Load({
        TableFixture::PageRow({"Device", "Info"}),
        Row(Var("1", "1", "NoCommands", "")),
        Row(Var("", "2", "NoGroup", "0x05")),
        Row(Var("1", "", "NoIndex", "0x05")),
        Row(Var("1", "5", "First", "0x05")),
        Row(Var("1", "5", "Second", "0x06")),
    });
    EXPECT_EQ(p.all_vars().size(), 1u);
    EXPECT_EQ(p.FindById("1-5")->var_name, "First");
    EXPECT_EQ(p.get_groups().count("0x06"), 0u);
    EXPECT_TRUE(Reported("Some var lacks \"GroupID\" or \"Index\""));
    EXPECT_TRUE(Reported("var name = NoGroup"));
    EXPECT_TRUE(Reported("There are vars with the same var_id"));
    EXPECT_TRUE(Reported("var_id =1-5, var_name = First"));
    // The second row's command is still classified: it was seen before the duplicate check.
    EXPECT_EQ(p.cmd_kinds().at("0x06"), "get");
    ASSERT_EQ(p.page_names().size(), 1u);
    EXPECT_EQ(p.page_names()[0], (std::vector<std::string>{"Device", "Info"}));
    EXPECT_EQ(p.pages()[0].size(), 1u);
}

TEST_F(ConfigParserTest, SetOnlyNamesClash_SecondGetsCommandSuffix) {
    ConfigParser& p = Load({
        Row(Var("1", "1", "Apply", "", "0x21")),
        Row(Var("1", "2", "Apply", "", "0x22")),
        Row(Var("1", "3", "Apply", "0x05", "0x23")),
    });
    EXPECT_EQ(p.FindById("1-1")->var_name, "Apply");
    EXPECT_EQ(p.FindById("1-2")->var_name, "Apply_0x22");
    EXPECT_EQ(p.FindById("1-3")->var_name, "Apply");
    EXPECT_TRUE(Reported("ConfigParser::ExtractConfigInfoApply_0x22 is used in other cmd"));
    EXPECT_EQ(p.set_groups().at("0x22").size(), 1u);
}

TEST_F(ConfigParserTest, OptionsAndDescriptions_ListRangeSingleAndMap) {
    ConfigParser& p = Load({
        Row(Var("1", "1", "List", "0x05"),
            {{"Options", "0|1|2"},
             {"OptionDescription", "0_Off\n1_ On \n2_Auto_Mode\n1_Turned on"}}),
        Row(Var("1", "2", "Range", "0x05"), {{"Options", "-20~255"}}),
        Row(Var("1", "3", "Single", "0x05"), {{"Options", "7"}}),
        Row(Var("1", "4", "BadLine", "0x05"), {{"OptionDescription", "0_Off\nx_Bad\n1_On"}}),
    });
    const VarInfo* list = p.FindById("1-1");
    EXPECT_EQ(list->options, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(list->option_num, 3);
    EXPECT_EQ(list->varname_value_to_option.at(0), "Off");
    EXPECT_EQ(list->varname_value_to_option.at(1), "Turned on");  // the later line wins
    EXPECT_EQ(list->varname_value_to_option.at(2), "Auto_Mode");
    const VarInfo* range = p.FindById("1-2");
    EXPECT_TRUE(range->options.empty());
    EXPECT_EQ(range->range_min, -20);
    EXPECT_EQ(range->range_max, 255);
    EXPECT_EQ(p.FindById("1-3")->options, (std::vector<int32_t>{7}));
    const VarInfo* bad = p.FindById("1-4");
    EXPECT_EQ(bad->varname_value_to_option.size(), 1u);  // reading stopped at "x_Bad"
    EXPECT_TRUE(Reported("x_Bad"));
}

TEST_F(ConfigParserTest, Placement_SortsSectionsLinksSwitchesAndReportsGaps) {
    ConfigParser& p = Load({
        TableFixture::PageRow({"Net", "Address", "Extra"}),
        TableFixture::PageRow({"Log"}),
        Row(Var("1", "1", "Third", "0x05"), {{"FunctionModule", "1_1_3_2_2"}}),
        Row(Var("1", "2", "First", "0x05"), {{"FunctionModule", "1_1_1_1"}}),
        Row(Var("1", "3", "Switch", "0x05"), {{"FunctionModule", "1_1_2_2"}}),
        Row(Var("1", "4", "Gap", "0x05"), {{"FunctionModule", "1_2_3_1"}}),
        Row(Var("1", "5", "Nowhere", "0x05"), {{"FunctionModule", "1_3_1_1|2_1_1_1|9_1_1_1"}}),
        Row(Var("1", "6", "Short", "0x05"), {{"FunctionModule", "1_1_4"}}),
        Row(Var("1", "7", "LogA", "0x60"), {{"FunctionModule", "2_1_1_6"}}),
        Row(Var("1", "8", "Twice", "0x05"), {{"FunctionModule", "1_1_4_1|1_2_1_3"}}),
    });
    const auto& address = p.pages()[0][0];
    ASSERT_EQ(address.size(), 4u);
    EXPECT_EQ(address[0]->var_name, "First");
    EXPECT_EQ(address[1]->var_name, "Switch");
    EXPECT_EQ(address[2]->var_name, "Third");
    EXPECT_EQ(address[3]->var_name, "Twice");
    EXPECT_TRUE(address[2]->is_switch_source);
    EXPECT_EQ(address[1]->switch_var, address[2]);
    EXPECT_EQ(p.FindById("1-8")->type, 3);  // the last entry decides the element type
    ASSERT_EQ(p.pages()[0][1].size(), 2u);
    EXPECT_TRUE(Reported("var_id =1-4, var_name = Gap"));
    EXPECT_FALSE(Reported("Nowhere"));  // outside the pages: not placed, not reported
    EXPECT_FALSE(Reported("Third"));    // a hidden companion is not checked
    ASSERT_EQ(p.unplaced_vars().size(), 1u);
    EXPECT_EQ(p.unplaced_vars()[0]->var_name, "LogA");
    EXPECT_TRUE(p.FindById("1-6")->positions.empty());
}

TEST_F(ConfigParserTest, GetVarPosOffset_RolesFailuresAndSecretKeyLength) {
    ConfigParser& p = Load({
        Row(Var("1", "1", "Lead", "0x08", "0x20"), {{"VarLen", "4"}, {"SetIndex", "2"}}),
        Row(Var("1", "2", "Port", "0x08", "0x20"), {{"VarLen", "2"}, {"SetIndex", "1"}}),
        Row(Var("1", "3", "Shared Secret Key", "0x31", "0x30"), {{"VarLen", "32"}}),
        // 0x20 was first used as a set command; here it reads.
        Row(Var("1", "4", "Shared", "0x20", "0x24"), {{"VarLen", "1"}, {"SetIndex", "1"}}),
        Row(Var("1", "5", "Lead", "0x20", "0x24"), {{"VarLen", "3"}, {"SetIndex", "0"}}),
    });
    int32_t start = -1;
    int32_t length = -1;
    ASSERT_TRUE(p.GetVarPosOffset("1-2", "0x08", 0, start, length));
    EXPECT_EQ(start, 4);
    EXPECT_EQ(length, 2);
    ASSERT_TRUE(p.GetVarPosOffset("1-2", "0x20", 0, start, length));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(p.FindById("1-3")->offset, 0);
    ASSERT_TRUE(p.GetVarPosOffset("1-3", "0x31", 19, start, length));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(length, 19);
    EXPECT_EQ(p.FindById("1-3")->offset, 19);
    ASSERT_TRUE(p.GetVarPosOffset("1-4", "0x20", 0, start, length));
    EXPECT_EQ(start, 0);  // first in the 0x20 read by Index
    ASSERT_TRUE(p.GetVarPosOffset("1-4", "0x24", 0, start, length));
    EXPECT_EQ(start, 3);  // second in the 0x24 write by SetIndex
    EXPECT_FALSE(p.GetVarPosOffset("9-9", "0x08", 0, start, length));
    EXPECT_TRUE(Reported("This var_id does not exist. Detail: var_id = 9-9"));
    EXPECT_FALSE(p.GetVarPosOffset("1-1", "0x77", 0, start, length));
    EXPECT_TRUE(Reported("don't have this command"));
}

TEST_F(ConfigParserTest, FindByName_UsesPageOrderNotFileOrder) {
    ConfigParser& p = Load({
        TableFixture::PageRow({"One", "A"}),
        TableFixture::PageRow({"Two", "B"}),
        Row(Var("1", "1", "SN", "0x07"), {{"FunctionModule", "2_1_1_1"}, {"DefaultValue", "late"}}),
        Row(Var("1", "2", "SN", "0x07"),
            {{"FunctionModule", "1_1_1_1"}, {"DefaultValue", "early"}}),
    });
    EXPECT_EQ(p.CurrentValueByName("SN"), "early");
    EXPECT_EQ(p.CurrentValueByName("PN"), "");
    EXPECT_EQ(p.FindByName("SN"), p.FindById("1-2"));
}

TEST_F(ConfigParserTest, NumericCellFails_ErrorNamesRowAndColumnAndKeepsEarlierRows) {
    parser_.reset(new ConfigParser(
        tables_.Write("bad.csv", {
                                     Row(Var("1", "2", "Lead", "0x05"), {{"VarLen", "2"}}),
                                     Row(Var("1", "1", "Tail", "0x05"), {{"VarLen", "4"}}),
                                     Row(Var("1", "3", "Broken", "0x05"), {{"VarLen", "four"}}),
                                     Row(Var("1", "4", "After", "0x05")),
                                 })));
    parser_->SetEchoDiagnostics(false);
    try {
        parser_->ExtractConfigInfo();
        FAIL() << "a non-numeric VarLen must stop loading";
    } catch (const TableError& e) {
        EXPECT_EQ(e.row(), 4);
        EXPECT_EQ(e.column(), "VarLen");
        EXPECT_EQ(e.reason(), "invalid stoi argument");
        EXPECT_NE(std::string(e.what()).find("bad.csv"), std::string::npos);
    }
    EXPECT_EQ(parser_->all_vars().size(), 2u);
    EXPECT_EQ(parser_->FindById("1-2")->get_start_pos, 4);  // the loaded rows are laid out
    EXPECT_FALSE(parser_->ExtractConfigInfo());             // asking again does not pretend success
    EXPECT_EQ(parser_->FindById("1-4"), nullptr);
}

TEST_F(ConfigParserTest, MissingColumnOrFile_StopsLoadingWithTheReason) {
    const std::string path =
        tables_.WriteRaw("cols.csv", "GroupID,Index,VarName,Get\n1,1,A,0x05\n");
    ConfigParser missing_column(path);
    missing_column.SetEchoDiagnostics(false);
    try {
        missing_column.ExtractConfigInfo();
        FAIL() << "a table without the Set column must not load";
    } catch (const TableError& e) {
        EXPECT_EQ(e.reason(), "Can't find a column named Set");
    }
    ConfigParser no_file(tables_.Dir() + "/absent.csv");
    no_file.SetEchoDiagnostics(false);
    EXPECT_FALSE(no_file.ExtractConfigInfo());
    ASSERT_FALSE(no_file.Diagnostics().empty());
    EXPECT_EQ(no_file.Diagnostics()[0].text,
              "ConfigParser::ExtractConfigInfo(): error with csv_reader_, loc = " + tables_.Dir() +
                  "/absent.csv");
}

}  // namespace
