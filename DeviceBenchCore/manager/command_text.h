#pragma once
// Command texts to CMX command codes and payload bytes. Three sources of text, three rules, kept
// side by side on purpose (each is what its users have always typed or tabled):
//   - Variable table get/set cells (CmxCommand): at most 4 characters is the code itself
//     ("0x05"); a longer text is an extended command, code 0xFF with the spelled bytes first
//     (pairs from the start, "0x" pairs skipped, an odd last character ignored).
//   - Maintenance rows (ParseMaintenanceCommand): under 5 characters is a number with base
//     detection whose low byte is the code; 5 or more spells bytes for code 0xFF, where a lone
//     last character is a one-digit byte.
//   - The console (ParseConsole): the command and each blank-separated payload piece are whole
//     hexadecimal numbers with an optional "0x"/"0X", any count of digits ("7", "000000ab").

#include <cstdint>
#include <string>
#include <vector>

//! The wire form of a table command text.
struct CmxCommand {
    uint8_t code = 0;
    std::vector<uint8_t> prefix;  // spelled bytes of an extended command; empty otherwise
    bool extended = false;

    //! Parses `text`; false for a text that names no command (empty, not a number, above 0xFF,
    //! an extended text with a pair that is not hexadecimal).
    static bool FromText(const std::string& text, CmxCommand& out);
    //! The code as two lower-case hexadecimal digits with "0x", as messages show it.
    std::string CodeText() const;
};

//! A maintenance command as sent: the CMX code and the request payload.
struct MaintenanceRequest {
    uint8_t code = 0;
    std::vector<uint8_t> payload;
};

//! A console command and payload as the console understood them.
struct ConsoleRequest {
    std::string cmd_text;      // the command without a "0x"/"0X" prefix
    std::string payload_text;  // the payload pieces without prefixes, joined by single blanks
    uint32_t code = 0;
    std::vector<uint8_t> payload;
};

namespace command_text {

//! The request of a maintenance row's command text followed by the row's get-payload bytes.
//! Throws OperationError for a text that names no command.
MaintenanceRequest ParseMaintenanceCommand(const std::string& text,
                                           const std::vector<uint8_t>& row_payload);

//! The console's texts for a link whose command code holds `max_code`. Throws
//! std::invalid_argument or std::out_of_range, with what() "payload" or "header" naming the
//! text at fault.
ConsoleRequest ParseConsole(const std::string& cmd, const std::string& payload, uint32_t max_code);

}  // namespace command_text
