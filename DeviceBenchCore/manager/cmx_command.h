#pragma once
// CmxCommand: the wire form of a command text of the variable table. A text of at most four
// characters ("0x05") is the command code itself; a longer one ("0x0000015A") is an extended
// command: code 0xFF with the spelled bytes at the front of the payload.

#include <cstdint>
#include <string>
#include <vector>

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
