#include "DeviceBenchCore/table/config_parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "DeviceBenchCore/table/csv_reader.h"
#include "DeviceBenchCore/table/number_text.h"
#include "DeviceBenchCore/table/table_error.h"

namespace {

const char kSharedSecretKeyName[] = "Shared Secret Key";
const char kWhitespace[] = " \t\r\n\f\v";

const std::string& Cell(const std::vector<std::string>& cells, size_t index) {
    static const std::string kEmpty;
    return index < cells.size() ? cells[index] : kEmpty;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(sep, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(kWhitespace);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

// Decimal integer as the standard stoi reads it (leading blanks, sign, digits, rest ignored).
// Returns 0 on success, 1 when nothing converts, 2 when the value does not fit 32 bits.
int ParseInt(const std::string& text, int32_t& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(begin, &end, 10);
    if (end == begin) return 1;
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return 2;
    value = static_cast<int32_t>(parsed);
    return 0;
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Page numbers are written from 1; the lowest integer has no predecessor and stays out of range.
int32_t ZeroBased(int32_t one_based) {
    return one_based == INT32_MIN ? INT32_MIN : one_based - 1;
}

// Payload positions add lengths taken from the table; a sum past the 32-bit range saturates
// instead of wrapping.
int32_t Saturate(int64_t position) {
    return static_cast<int32_t>(
        std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, position)));
}

}  // namespace

// Column indexes, resolved once from the header; a missing column ends loading.
struct ConfigParser::Columns {
    explicit Columns(const CsvReader& reader)
        : group_id(reader.ColumnIndex("GroupID")),
          index(reader.ColumnIndex("Index")),
          var_name(reader.ColumnIndex("VarName")),
          get(reader.ColumnIndex("Get")),
          set(reader.ColumnIndex("Set")),
          set_index(reader.ColumnIndex("SetIndex")),
          permission(reader.ColumnIndex("Permission")),
          var_type(reader.ColumnIndex("VarType")),
          default_value(reader.ColumnIndex("DefaultValue")),
          options(reader.ColumnIndex("Options")),
          unit(reader.ColumnIndex("Unit")),
          coefficient(reader.ColumnIndex("Coefficient")),
          option_description(reader.ColumnIndex("OptionDescription")),
          function_module(reader.ColumnIndex("FunctionModule")),
          var_len(reader.ColumnIndex("VarLen")),
          timer_update(reader.ColumnIndex("TimerUpdate")),
          set_coefficient(reader.ColumnIndex("SetCoefficient")),
          get_cmd_payload(reader.ColumnIndex("GetCmdPayload")) {}

    size_t group_id, index, var_name, get, set, set_index, permission, var_type, default_value,
        options, unit, coefficient, option_description, function_module, var_len, timer_update,
        set_coefficient, get_cmd_payload;
};

// Converts one numeric cell; a failure names the file, the row and the column.
class CellConverter {
public:
    CellConverter(const std::string& file, int row) : file_(file), row_(row) {}

    int32_t Int(const std::string& text, const char* column) const {
        int32_t value = 0;
        int status = ParseInt(text, value);
        if (status == 1) throw TableError(file_, row_, column, "invalid stoi argument");
        if (status == 2) throw TableError(file_, row_, column, "stoi argument out of range");
        return value;
    }

    int32_t IntOr(const std::string& text, const char* column, int32_t fallback) const {
        return text.empty() ? fallback : Int(text, column);
    }

    float FloatOr(const std::string& text, const char* column, float fallback) const {
        if (text.empty()) return fallback;
        try {
            return number_text::Stof(text);
        } catch (const std::exception& e) {
            throw TableError(file_, row_, column, e.what());
        }
    }

private:
    const std::string& file_;
    int row_;
};

namespace {

// GetCmdPayload "0x0102": hex digit pairs after the prefix; an odd last digit is not converted.
// Returns false when a pair is not hexadecimal (both fields are then left empty).
bool ParseGetPayload(const std::string& cell, VarInfo& var) {
    if (cell.size() < 4 || cell[0] != '0' || (cell[1] != 'x' && cell[1] != 'X')) return true;
    std::string digits = cell.substr(2);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        if (!IsHexDigit(digits[i]) || !IsHexDigit(digits[i + 1])) return false;
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    var.get_cmd_payload = digits;
    var.get_payload_bytes = std::move(bytes);
    return true;
}

// Options: "0|1|2" a list, "0~255" a range, "7" a single value.
void ParseOptions(const std::string& cell, const CellConverter& convert, VarInfo& var) {
    if (cell.find('|') != std::string::npos) {
        for (const std::string& piece : Split(cell, '|')) {
            var.options.push_back(convert.Int(piece, "Options"));
        }
    } else if (cell.find('~') != std::string::npos) {
        size_t tilde = cell.find('~');
        var.range_min = convert.Int(cell.substr(0, tilde), "Options");
        var.range_max = convert.Int(cell.substr(tilde + 1), "Options");
    } else if (!cell.empty()) {
        var.options.push_back(convert.Int(cell, "Options"));
    }
    var.option_num = static_cast<int32_t>(var.options.size());
}

// One "value_text" per line. A line whose value is not a number ends the cell: the lines before
// it stay, and `bad_line` names it.
bool ParseOptionDescription(VarInfo& var, std::string& bad_line) {
    for (const std::string& line : Split(var.option_description, '\n')) {
        if (Trim(line).empty()) continue;  // a blank line describes nothing
        size_t underscore = line.find('_');
        int32_t value = 0;
        if (ParseInt(Trim(line.substr(0, underscore)), value) != 0) {
            bad_line = Trim(line);
            return false;
        }
        std::string text = underscore == std::string::npos ? "" : Trim(line.substr(underscore + 1));
        if (!text.empty()) var.varname_value_to_option[value] = text;
    }
    return true;
}

}  // namespace

ConfigParser::ConfigParser(const std::string& file_path) : file_path_(file_path) {
    try {
        reader_.reset(new CsvReader(file_path));
    } catch (const TableError& e) {
        open_error_ = e.what();
    }
}

ConfigParser::~ConfigParser() = default;

void ConfigParser::Report(int row, const std::string& text) {
    diagnostics_.push_back({row, text});
    if (echo_diagnostics_) std::printf("%s\n", text.c_str());
}

bool ConfigParser::ExtractConfigInfo() {
    if (!reader_) {
        Report(0, "ConfigParser::ExtractConfigInfo(): error with csv_reader_, loc = " + file_path_);
        if (!open_error_.empty()) Report(0, open_error_);
        return false;
    }
    // The file is read once; asking again reports how that pass ended.
    if (extracted_) return complete_;
    extracted_ = true;
    try {
        Columns columns(*reader_);
        ParseRows(columns);
    } catch (const TableError& e) {
        // The rows read so far stay usable, so they still get their page order and payload layout.
        Report(e.row(), e.what());
        CheckSectionOrder();
        LinkSwitchCompanions();
        LayoutGetCommands();
        LayoutSetCommands();
        throw;
    }
    CheckSectionOrder();
    LinkSwitchCompanions();
    LayoutGetCommands();
    LayoutSetCommands();
    complete_ = true;
    return true;
}

void ConfigParser::ParseRows(const Columns& columns) {
    std::vector<std::string> cells;
    while (reader_->ReadRow(cells)) {
        current_row_ = reader_->RowNumber();
        const std::string& group = Cell(cells, columns.group_id);
        if (group.empty() || Cell(cells, columns.index).empty()) {
            Report(
                current_row_,
                "ConfigParser::ExtractConfigInfo(): WARNING: something with config file - Some var "
                "lacks \"GroupID\" or \"Index\"");
            Report(current_row_, "---Detailed Infomation: file path = " + file_path_ +
                                     ", var name = " + Cell(cells, columns.var_name));
            continue;
        }
        if (group == "0") {
            AddPageRow(cells, columns.group_id);
            continue;
        }
        const std::string& get = Cell(cells, columns.get);
        const std::string& set = Cell(cells, columns.set);
        if (get.empty() && set.empty()) continue;
        if (!get.empty() && cmd_kinds_[get].empty()) cmd_kinds_[get] = "get";
        if (!set.empty() && cmd_kinds_[set].empty()) cmd_kinds_[set] = "set";

        std::unique_ptr<VarInfo> var = BuildVar(cells, columns);
        auto existing = vars_by_id_.find(var->var_id);
        if (existing != vars_by_id_.end()) {
            Report(current_row_,
                   "ConfigParser::ExtractConfigInfo(): ERROR with config file. There are vars with "
                   "the "
                   "same var_id. Some of them will be overwritten");
            Report(current_row_,
                   "ConfigParser::ExtractConfigInfo(): --- Details: file path = " + file_path_ +
                       ", var_id =" + var->var_id + ", var_name = " + existing->second->var_name);
            continue;
        }
        VarInfo& stored = *var;
        rows_[&stored] = current_row_;
        all_vars_.push_back(&stored);
        vars_by_id_.emplace(stored.var_id, std::move(var));
        ParseFunctionModule(stored, Cell(cells, columns.function_module));
        RegisterCommands(stored);
    }
}

void ConfigParser::AddPageRow(const std::vector<std::string>& cells, size_t group_column) {
    std::vector<std::string> names;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i != group_column && !cells[i].empty()) names.push_back(cells[i]);
    }
    page_names_.push_back(std::move(names));
    pages_.resize(page_names_.size());
    for (size_t i = 0; i < page_names_.size(); ++i) {
        size_t sections = page_names_[i].empty() ? 0 : page_names_[i].size() - 1;
        pages_[i].resize(sections);
    }
}

std::unique_ptr<VarInfo> ConfigParser::BuildVar(const std::vector<std::string>& cells,
                                                const Columns& columns) {
    CellConverter convert(file_path_, current_row_);
    std::unique_ptr<VarInfo> var(new VarInfo);
    const std::string& index = Cell(cells, columns.index);
    var->var_id = Cell(cells, columns.group_id) + "-" + index;
    var->index = convert.Int(index, "Index");
    var->set_index = convert.IntOr(Cell(cells, columns.set_index), "SetIndex", -1);
    var->get_cmd = Cell(cells, columns.get);
    var->set_cmd = Cell(cells, columns.set);
    var->var_type = Cell(cells, columns.var_type);
    var->var_name = Cell(cells, columns.var_name);
    const std::string& unit = Cell(cells, columns.unit);
    if (!unit.empty()) var->unit = " (" + unit + ")";
    var->permission = convert.IntOr(Cell(cells, columns.permission), "Permission", 0);
    var->offset = convert.IntOr(Cell(cells, columns.var_len), "VarLen", 0);
    // The key's length is whatever the user enters; GetVarPosOffset is told it per request.
    if (var->var_name == kSharedSecretKeyName) var->offset = 0;
    var->timer_update = convert.IntOr(Cell(cells, columns.timer_update), "TimerUpdate", 0) == 1;
    var->coefficient = convert.FloatOr(Cell(cells, columns.coefficient), "Coefficient", 1.0f);
    var->set_coefficient =
        convert.FloatOr(Cell(cells, columns.set_coefficient), "SetCoefficient", 1.0f);
    var->default_val = Cell(cells, columns.default_value);
    var->current_val = var->default_val;

    if (!ParseGetPayload(Cell(cells, columns.get_cmd_payload), *var)) {
        Report(current_row_, file_path_ + ": row " + std::to_string(current_row_) +
                                 ", column GetCmdPayload: not hexadecimal, the payload is dropped");
    }
    ParseOptions(Cell(cells, columns.options), convert, *var);
    var->option_description = Cell(cells, columns.option_description);
    std::string bad_line;
    if (!ParseOptionDescription(*var, bad_line)) {
        Report(current_row_,
               file_path_ + ": row " + std::to_string(current_row_) +
                   ", column OptionDescription: \"" + bad_line +
                   "\" does not start with a number; the lines from here are ignored");
    }
    return var;
}

void ConfigParser::ParseFunctionModule(VarInfo& var, const std::string& text) {
    CellConverter convert(file_path_, current_row_);
    for (const std::string& entry : Split(text, '|')) {
        if (entry.empty()) continue;
        std::vector<std::string> fields = Split(entry, '_');
        if (fields.size() < 4) continue;
        int32_t level1 = ZeroBased(convert.Int(fields[0], "FunctionModule"));
        int32_t level2 = ZeroBased(convert.Int(fields[1], "FunctionModule"));
        int32_t position = convert.Int(fields[2], "FunctionModule");
        int32_t type = convert.Int(fields[3], "FunctionModule");
        var.positions[{level1, level2}] = position;
        var.type = type;
        if (type == 6) {
            if (std::find(unplaced_vars_.begin(), unplaced_vars_.end(), &var) ==
                unplaced_vars_.end()) {
                unplaced_vars_.push_back(&var);
            }
            continue;
        }
        if (type == 2 && fields.size() >= 5) {
            var.is_switch_source = true;
            switch_links_.push_back(
                {level1, level2, convert.Int(fields[4], "FunctionModule"), &var});
        }
        if (level1 >= 0 && level1 < static_cast<int32_t>(pages_.size()) && level2 >= 0 &&
            level2 < static_cast<int32_t>(pages_[level1].size())) {
            pages_[level1][level2].push_back(&var);
        }
    }
}

void ConfigParser::RegisterCommands(VarInfo& var) {
    if (var.get_cmd.empty() && !var.set_cmd.empty()) {
        // Set-only variables are found by name (log rows, restart, reset), so names must stay unique.
        if (!set_only_names_.insert(var.var_name).second) {
            var.var_name += "_" + var.set_cmd;
            Report(current_row_,
                   "ConfigParser::ExtractConfigInfo" + var.var_name + " is used in other cmd");
        }
    }
    if (!var.set_cmd.empty()) set_groups_[var.set_cmd].push_back(&var);
    if (!var.get_cmd.empty()) get_groups_[var.get_cmd + var.get_cmd_payload].push_back(&var);
}

void ConfigParser::CheckSectionOrder() {
    for (size_t i = 0; i < pages_.size(); ++i) {
        for (size_t j = 0; j < pages_[i].size(); ++j) {
            const std::pair<int32_t, int32_t> key(static_cast<int32_t>(i), static_cast<int32_t>(j));
            std::vector<VarInfo*>& section = pages_[i][j];
            std::stable_sort(section.begin(), section.end(), [&key](VarInfo* a, VarInfo* b) {
                return a->positions[key] < b->positions[key];
            });
            int32_t expected = 1;
            for (VarInfo* var : section) {
                if (!var->is_switch_source && var->positions[key] != expected) {
                    Report(RowOf(var),
                           "ConfigParser::ExtractConfigInfo(): --- Details: file path = " +
                               file_path_ + ", var_id =" + var->var_id +
                               ", var_name = " + var->var_name);
                }
                ++expected;
            }
        }
    }
}

void ConfigParser::LinkSwitchCompanions() {
    for (const SwitchLink& link : switch_links_) {
        if (link.target < 0 || link.level1 < 0 || link.level2 < 0 ||
            link.level1 >= static_cast<int32_t>(pages_.size()) ||
            link.level2 >= static_cast<int32_t>(pages_[link.level1].size())) {
            continue;
        }
        const std::pair<int32_t, int32_t> key(link.level1, link.level2);
        std::vector<VarInfo*>& section = pages_[link.level1][link.level2];
        if (static_cast<int32_t>(section.size()) <= link.target) continue;
        for (VarInfo* var : section) {
            if (var->positions[key] == link.target) {
                var->switch_var = link.companion;
                break;
            }
        }
    }
}

void ConfigParser::LayoutGetCommands() {
    for (auto& group : get_groups_) {
        std::vector<VarInfo*>& vars = group.second;
        std::stable_sort(vars.begin(), vars.end(),
                         [](const VarInfo* a, const VarInfo* b) { return a->index < b->index; });
        // An extended (tunnelled) command answers with a 4-byte prefix before the values.
        int64_t position = (!vars.empty() && vars.front()->get_cmd.size() > 4) ? 4 : 0;
        for (VarInfo* var : vars) {
            var->get_start_pos = Saturate(position);
            position += var->offset;
        }
    }
}

void ConfigParser::LayoutSetCommands() {
    for (auto& group : set_groups_) {
        std::vector<VarInfo*>& vars = group.second;
        std::stable_sort(vars.begin(), vars.end(), [](const VarInfo* a, const VarInfo* b) {
            return a->set_index < b->set_index;
        });
        int64_t position = 0;
        for (VarInfo* var : vars) {
            var->set_start_pos = Saturate(position);
            position += var->offset;
        }
    }
}

bool ConfigParser::GetVarPosOffset(const std::string& var_id, const std::string& cmd,
                                   int32_t length_hint, int32_t& start_pos, int32_t& offset) {
    VarInfo* var = FindById(var_id);
    if (var == nullptr) {
        Report(0,
               "ConfigParser::GetVarPosOffset(): ERROR. This var_id does not exist. Detail: var_id "
               "= " +
                   var_id + ", file_path = " + file_path_);
        return false;
    }
    auto kind = cmd_kinds_.find(cmd);
    if (kind == cmd_kinds_.end() || kind->second.empty()) {
        Report(0, "ConfigParser::GetVarPosOffset(): don't have this command");
        return false;
    }
    if (var->get_cmd.empty() && var->set_cmd.empty()) {
        Report(0, "ConfigParser::GetVarPosOffset(): this var not supported. var_name = " +
                      var->var_name);
        return false;
    }
    // A command text can read one variable and write another; the first row that used it decides
    // its kind in cmd_kinds, but this variable's own use of it decides which layout applies here.
    bool is_set = kind->second == "set";
    if (cmd == var->set_cmd && cmd != var->get_cmd) is_set = true;
    if (cmd == var->get_cmd && cmd != var->set_cmd) is_set = false;
    start_pos = is_set ? var->set_start_pos : var->get_start_pos;
    offset = var->offset;
    if (var->var_name == kSharedSecretKeyName) {
        start_pos = 0;
        offset = length_hint;
        var->set_start_pos = 0;
        var->offset = length_hint;
    }
    return true;
}

VarInfo* ConfigParser::FindById(const std::string& var_id) const {
    auto it = vars_by_id_.find(var_id);
    return it == vars_by_id_.end() ? nullptr : it->second.get();
}

VarInfo* ConfigParser::FindByName(const std::string& name) const {
    for (const auto& level1 : pages_) {
        for (const auto& section : level1) {
            for (VarInfo* var : section) {
                if (var->var_name == name) return var;
            }
        }
    }
    return nullptr;
}

std::string ConfigParser::CurrentValueByName(const std::string& name) const {
    const VarInfo* var = FindByName(name);
    return var == nullptr ? std::string() : var->current_val;
}

int ConfigParser::RowOf(const VarInfo* var) const {
    auto it = rows_.find(var);
    return it == rows_.end() ? 0 : it->second;
}
