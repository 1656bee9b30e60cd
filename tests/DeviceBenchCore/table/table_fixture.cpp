#include "tests/DeviceBenchCore/table/table_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

const std::vector<std::string> kColumns = {"GroupID",
                                           "Index",
                                           "VarName",
                                           "Get",
                                           "Set",
                                           "SetIndex",
                                           "Permission",
                                           "VarType",
                                           "DefaultValue",
                                           "Options",
                                           "Unit",
                                           "Coefficient",
                                           "OptionDescription",
                                           "FunctionModule",
                                           "VarLen",
                                           "TimerUpdate",
                                           "SetCoefficient",
                                           "GetCmdPayload"};

std::string Quote(const std::string& cell, char delimiter) {
    if (cell.find_first_of(std::string("\"\n\r") + delimiter) == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

TableFixture::TableFixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "devicebench-table-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TableFixture::~TableFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TableFixture::Row(const std::map<std::string, std::string>& cells, char delimiter) {
    std::string line;
    for (size_t i = 0; i < kColumns.size(); ++i) {
        if (i > 0) line += delimiter;
        auto it = cells.find(kColumns[i]);
        if (it != cells.end()) line += Quote(it->second, delimiter);
    }
    return line;
}

std::string TableFixture::PageRow(const std::vector<std::string>& names, char delimiter) {
    std::string line = "0";
    for (size_t i = 1; i < kColumns.size(); ++i) {
        line += delimiter;
        if (i - 1 < names.size()) line += Quote(names[i - 1], delimiter);
    }
    return line;
}

std::string TableFixture::Header(char delimiter) {
    std::string line;
    for (size_t i = 0; i < kColumns.size(); ++i) {
        if (i > 0) line += delimiter;
        line += kColumns[i];
    }
    return line;
}

std::string TableFixture::Write(const std::string& name, const std::vector<std::string>& rows,
                                char delimiter) {
    std::string content = Header(delimiter) + "\n";
    for (const std::string& row : rows)
        content += row + "\n";
    return WriteRaw(name, content);
}

std::string TableFixture::WriteRaw(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path;
}
