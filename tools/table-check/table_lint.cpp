#include "tools/table-check/table_lint.h"

#include <cmath>
#include <exception>
#include <map>
#include <set>

#include "DeviceBenchCore/parsers/make_str_parser.h"

namespace {

using Diagnostics = std::vector<ConfigParser::Diagnostic>;

// Byte length each fixed-size type needs; 0 = any length above zero.
const std::map<std::string, int> kTypeLengths = {
    {"uint8", 1},  {"uint16", 2},     {"uint32", 4},  {"uint64", 8}, {"int8", 1}, {"int16", 2},
    {"int32", 4},  {"int64", 8},      {"float32", 4}, {"double", 8}, {"IP", 4},   {"MAC", 6},
    {"HWVER", 16}, {"SWVER_YMD", 16}, {"string", 0},  {"raw", 0},    {"DT", 0}};

const std::set<std::string> kWritableTypes = {"uint8",   "uint16", "uint32", "uint64",
                                              "int8",    "int16",  "int32",  "int64",
                                              "float32", "double", "IP",     "MAC"};

bool CanEncode(const VarInfo& var, std::string& why) {
    std::unique_ptr<StrParser> parser;
    if (kWritableTypes.count(var.var_type) == 0) return true;
    parser = MakeStrParser(var.var_type);
    try {
        parser->Parse(var.default_val, var.set_coefficient);
        return true;
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
}

}  // namespace

std::vector<ConfigParser::Diagnostic> TableLint::Run() const {
    Diagnostics out;
    for (const VarInfo* var : parser_.all_vars()) {
        CheckVariable(*var, out);
        CheckPlacement(*var, out);
    }
    CheckSections(out);
    CheckGroupKeys(out);
    return out;
}

void TableLint::CheckVariable(const VarInfo& var, Diagnostics& out) const {
    const int row = parser_.RowOf(&var);
    const std::string who = var.var_id + " \"" + var.var_name + "\": ";
    auto length = kTypeLengths.find(var.var_type);
    if (length == kTypeLengths.end()) {
        out.push_back({row, who + "unknown VarType \"" + var.var_type + "\""});
        return;
    }
    if (var.offset < 0) out.push_back({row, who + "VarLen must not be negative"});
    const bool sized = var.var_name != "Shared Secret Key" && var.var_type != "raw";
    if (sized && length->second != 0 && var.offset != length->second) {
        out.push_back({row, who + var.var_type + " needs VarLen " + std::to_string(length->second) +
                                ", the table gives " + std::to_string(var.offset)});
    }
    if (sized && length->second == 0 && var.offset <= 0) {
        out.push_back({row, who + "VarLen must be above 0"});
    }
    if (!std::isfinite(var.coefficient) || var.coefficient == 0.0f ||
        !std::isfinite(var.set_coefficient) || var.set_coefficient == 0.0f) {
        out.push_back({row, who + "Coefficient and SetCoefficient must be finite and not 0"});
    }
    const bool editable = !var.set_cmd.empty() && var.permission != 0 && var.type != 4;
    if (editable && var.get_cmd.empty() && var.var_type != "raw") {
        out.push_back(
            {row, who + "a set-only variable must be raw (its bytes cannot be read back)"});
    }
    if (editable && !var.get_cmd.empty() && kWritableTypes.count(var.var_type) == 0) {
        out.push_back({row, who + "editable, but a " + var.var_type + " value cannot be written"});
    }
    std::string why;
    if (editable && !CanEncode(var, why)) {
        out.push_back(
            {row, who + "DefaultValue \"" + var.default_val + "\" cannot be written: " + why});
    }
    if ((var.type == 3 || var.type == 5) && var.options.empty()) {
        out.push_back({row, who + "a drop-down list needs Options as a list or a single value"});
    }
    if (var.type < 0 || var.type > 6) {
        out.push_back({row, who + "element type " + std::to_string(var.type) + " is not 0-6"});
    }
}

void TableLint::CheckPlacement(const VarInfo& var, Diagnostics& out) const {
    const int row = parser_.RowOf(&var);
    const auto& pages = parser_.pages();
    for (const auto& place : var.positions) {
        const int level1 = place.first.first;
        const int level2 = place.first.second;
        if (var.type == 6) continue;
        if (level1 < 0 || level1 >= static_cast<int>(pages.size()) || level2 < 0 ||
            level2 >= static_cast<int>(pages[level1].size())) {
            out.push_back({row, var.var_id + " \"" + var.var_name +
                                    "\": FunctionModule places it in " +
                                    std::to_string(level1 + 1) + "_" + std::to_string(level2 + 1) +
                                    ", a section that does not exist"});
        }
    }
}

void TableLint::CheckSections(Diagnostics& out) const {
    const auto& pages = parser_.pages();
    for (size_t i = 0; i < pages.size(); ++i) {
        for (size_t j = 0; j < pages[i].size(); ++j) {
            bool companion_seen = false;
            for (const VarInfo* var : pages[i][j]) {
                const int row = parser_.RowOf(var);
                const std::string who = var->var_id + " \"" + var->var_name + "\": ";
                if (var->is_switch_source) {
                    companion_seen = true;
                    continue;
                }
                if (companion_seen) {
                    out.push_back(
                        {row, who + "shown after a switch companion; companions must come last "
                                    "in their section"});
                }
                if (var->type == 2 && var->switch_var == nullptr) {
                    out.push_back({row, who + "a switch (element type 2) without a companion"});
                }
            }
        }
    }
}

void TableLint::CheckGroupKeys(Diagnostics& out) const {
    for (const auto& group : parser_.get_groups()) {
        std::set<int32_t> seen;
        for (const VarInfo* var : group.second) {
            if (!seen.insert(var->index).second) {
                out.push_back(
                    {parser_.RowOf(var), var->var_id + ": Index " + std::to_string(var->index) +
                                             " is used twice in get command " + group.first});
            }
        }
    }
    for (const auto& group : parser_.set_groups()) {
        std::set<int32_t> seen;
        for (const VarInfo* var : group.second) {
            if (!seen.insert(var->set_index).second) {
                out.push_back({parser_.RowOf(var),
                               var->var_id + ": SetIndex " + std::to_string(var->set_index) +
                                   " is used twice in set command " + group.first});
            }
        }
    }
}
