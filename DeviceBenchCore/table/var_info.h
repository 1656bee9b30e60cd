#pragma once
// VarInfo: one device parameter, as described by one data row of a model's variable table.
//
// Records are created once by ConfigParser, owned by it and never copied; every index of the parser,
// the manager and the pages refers to them by pointer. Not thread-safe: the UI thread edits
// `current_val`, and any other reader must be kept apart by the caller.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct VarInfo {
    std::string var_id;         // GroupID + "-" + Index, exactly as written
    int32_t index = 0;          // order inside the get command
    int32_t set_index = -1;     // order inside the set command; -1 when the cell is empty
    std::string get_cmd;        // command that reads the variable; empty = not readable
    std::string set_cmd;        // command that writes the variable; empty = not writable
    std::string var_type;       // value type name; selects the value parser and the decoding
    std::string var_name;       // display name (a set-only duplicate gets "_" + set_cmd appended)
    std::string unit;           // " (" + unit + ")" or empty
    int32_t get_start_pos = 0;  // first byte in the get command's reply payload
    int32_t set_start_pos = 0;  // first byte in the set command's payload
    int32_t offset = 0;         // length in bytes (the table's VarLen)
    int32_t permission = 0;     // 0 = read-only in the UI
    float coefficient = 1.0f;   // scale applied when a read value is decoded
    float set_coefficient = 1.0f;  // scale divided out when a value is encoded for writing
    std::string default_val;
    std::string current_val;  // the value as shown and edited
    std::vector<int32_t> options;
    std::map<std::pair<int32_t, int32_t>, int32_t>
        positions;  // (level1, level2) -> 1-based position
    int32_t visible = 1;
    int32_t option_num = 0;
    int32_t type = 0;               // element type of the last FunctionModule entry (0-6)
    bool is_switch_source = false;  // hidden companion that holds a switch's on/off value
    VarInfo* switch_var = nullptr;  // for a shown switch element: its hidden companion (not owned)
    std::map<int32_t, std::string> varname_value_to_option;
    std::string option_description;
    int32_t range_min = 0;
    int32_t range_max = 0;
    bool timer_update = false;
    std::string get_cmd_payload;  // hex digits of GetCmdPayload without the "0x" prefix
    std::vector<uint8_t> get_payload_bytes;

    VarInfo() = default;
    VarInfo(const VarInfo&) = delete;
    VarInfo& operator=(const VarInfo&) = delete;
};
