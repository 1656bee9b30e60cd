#include "DeviceBenchCore/manager/cmx_command.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kShortCommandChars = 4;
constexpr uint8_t kExtendedCode = 0xFF;

bool HexByte(const std::string& pair, uint8_t& out) {
    if (pair.size() != 2) return false;
    unsigned value = 0;
    for (char c : pair) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    out = static_cast<uint8_t>(value);
    return true;
}

}  // namespace

bool CmxCommand::FromText(const std::string& text, CmxCommand& out) {
    out = CmxCommand();
    if (text.empty()) return false;
    if (text.size() <= kShortCommandChars) {
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 0);
        if (end == text.c_str() || *end != '\0' || value < 0 || value > 0xFF) return false;
        out.code = static_cast<uint8_t>(value);
        return true;
    }
    out.code = kExtendedCode;
    out.extended = true;
    // Whole pairs only; an odd last character spells no byte.
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        if (pair == "0x" || pair == "0X") continue;
        uint8_t byte = 0;
        if (!HexByte(pair, byte)) return false;
        out.prefix.push_back(byte);
    }
    return true;
}

std::string CmxCommand::CodeText() const {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", code);
    return text;
}
