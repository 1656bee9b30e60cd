// The variable tables DeviceBench ships: each loads cleanly and together they exercise every
// element type and value type the pages and the read/write paths know.

#include <gtest/gtest.h>

#include <set>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/csv_reader.h"

namespace {

const char* const kModels[] = {"Corvel", "Tovin", "Minka", "Minka-CMX", "Rusko-CMX"};

std::string TablePath(const std::string& model) {
    return std::string(KRELL_TABLE_DIR) + "/" + model + ".csv";
}

std::unique_ptr<ConfigParser> LoadClean(const std::string& model) {
    std::unique_ptr<ConfigParser> parser(new ConfigParser(TablePath(model)));
    parser->SetEchoDiagnostics(false);
    EXPECT_TRUE(parser->ExtractConfigInfo()) << model;
    for (const auto& d : parser->Diagnostics())
        ADD_FAILURE() << model << ":" << d.row << ": " << d.text;
    return parser;
}

TEST(ShippedTablesTest, AllTables_LoadCleanAndCoverEveryTypeTogether) {
    std::set<int> element_types;
    std::set<std::string> var_types;
    std::set<char> delimiters;
    for (const char* model : kModels) {
        auto parser = LoadClean(model);
        EXPECT_FALSE(parser->pages().empty()) << model;
        for (const VarInfo* var : parser->all_vars()) {
            element_types.insert(var->type);
            var_types.insert(var->var_type);
        }
        delimiters.insert(CsvReader(TablePath(model)).Delimiter());
    }
    EXPECT_EQ(element_types, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(var_types,
              (std::set<std::string>{"uint8", "uint16", "uint32", "uint64", "int8", "int16",
                                     "int32", "int64", "float32", "double", "string", "raw", "IP",
                                     "MAC", "HWVER", "SWVER_YMD", "DT"}));
    EXPECT_GE(delimiters.size(), 4u);
}

TEST(ShippedTablesTest, Corvel_HasTheRowsTheManagerLooksFor) {
    auto corvel = LoadClean("Corvel");
    EXPECT_EQ(corvel->CurrentValueByName("SN"), "CV128A2411000137");
    EXPECT_EQ(corvel->CurrentValueByName("PN"), "KR-CORVEL128-A02");
    for (const char* name : {"Restart", "Reset", "Operation Log", "Shared Secret Key"}) {
        bool found = false;
        for (const VarInfo* var : corvel->all_vars())
            found = found || var->var_name == name;
        EXPECT_TRUE(found) << name;
    }
    EXPECT_FALSE(corvel->unplaced_vars().empty());
    bool fov = false, upgrade = false, extended = false, timer = false, payload = false;
    for (const VarInfo* var : corvel->all_vars()) {
        fov = fov || (var->type == 5 && var->get_cmd == "0x23" && var->set_cmd == "0x22");
        upgrade = upgrade || (var->type == 4 && !var->set_cmd.empty());
        extended = extended || var->get_cmd.size() > 4;
        timer = timer || var->timer_update;
        payload = payload || !var->get_payload_bytes.empty();
    }
    EXPECT_TRUE(fov && upgrade && extended && timer && payload);
    // Every switch has its companion, and companions close their section so that the page model
    // (which leaves them out) and the section indexes agree.
    int switches = 0;
    for (const auto& level1 : corvel->pages()) {
        for (const auto& section : level1) {
            bool companion_seen = false;
            for (const VarInfo* var : section) {
                if (var->is_switch_source) {
                    companion_seen = true;
                    continue;
                }
                EXPECT_FALSE(companion_seen) << var->var_name;
                if (var->type == 2) {
                    ++switches;
                    ASSERT_NE(var->switch_var, nullptr) << var->var_name;
                    EXPECT_TRUE(var->switch_var->is_switch_source);
                }
            }
        }
    }
    EXPECT_GE(switches, 2);
}

TEST(ShippedTablesTest, MinkaTables_CarryInfoVariablesInTheFirstSection) {
    for (const char* model : {"Minka", "Minka-CMX"}) {
        auto parser = LoadClean(model);
        ASSERT_FALSE(parser->pages().empty());
        ASSERT_FALSE(parser->pages()[0].empty());
        std::set<int32_t> ids;
        std::set<std::string> types;
        for (const VarInfo* var : parser->pages()[0][0]) {
            EXPECT_TRUE(ids.insert(var->index).second)
                << model << " repeats info id " << var->index;
            types.insert(var->var_type);
        }
        EXPECT_GE(ids.size(), 8u) << model;
        EXPECT_TRUE(ids.count(10)) << model << ": the serial number streams as info id 10";
        EXPECT_TRUE(types.count("string") && types.count("float32") && types.count("uint32"))
            << model;
    }
    EXPECT_NE(CsvReader(TablePath("Minka")).Delimiter(),
              CsvReader(TablePath("Corvel")).Delimiter());
    EXPECT_NE(CsvReader(TablePath("Minka-CMX")).Delimiter(),
              CsvReader(TablePath("Corvel")).Delimiter());
}

}  // namespace
