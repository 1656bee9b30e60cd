#include "DeviceBenchCore/manager/command_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "DeviceBenchCore/manager/reporter.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

constexpr size_t kShortTableCommandChars = 4;        // table cells: longer is extended
constexpr size_t kShortMaintenanceCommandChars = 5;  // maintenance rows: this long spells bytes
constexpr uint8_t kExtendedCode = krell::lidar::kCmdTunnel;
constexpr size_t kMaxHexDigits = 8;
constexpr uint32_t kMaxByte = 0xFF;
constexpr const char* kBlanks = " \t";
constexpr const char* kHexDigits = "0123456789abcdefABCDEF";
constexpr const char* kPayloadWhat = "payload";
constexpr const char* kHeaderWhat = "header";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to two hexadecimal digits as one byte; false for any other character.
bool HexPiece(const std::string& piece, uint8_t& out) {
    int value = 0;
    for (char c : piece) {
        const int digit = HexDigit(c);
        if (digit < 0) return false;
        value = value * 16 + digit;
    }
    out = static_cast<uint8_t>(value);
    return true;
}

bool IsHexPrefix(const std::string& pair) {
    return pair == "0x" || pair == "0X";
}

std::string WithoutPrefix(const std::string& text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return text.substr(2);
    return text;
}

// Whole text or nothing: a typed "12zz" must not quietly send 0x12.
uint32_t HexValue(const std::string& text, uint32_t max, const char* what) {
    const std::string digits = WithoutPrefix(text);
    if (digits.empty() || digits.find_first_not_of(kHexDigits) != std::string::npos)
        throw std::invalid_argument(what);
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    if (digits.size() - first > kMaxHexDigits) throw std::out_of_range(what);
    const unsigned long value = std::stoul(digits.substr(first), nullptr, 16);
    if (value > max) throw std::out_of_range(what);
    return static_cast<uint32_t>(value);
}

std::vector<std::string> Pieces(const std::string& text) {
    std::vector<std::string> pieces;
    size_t pos = text.find_first_not_of(kBlanks);
    while (pos != std::string::npos) {
        const size_t end = text.find_first_of(kBlanks, pos);
        pieces.push_back(text.substr(pos, end == std::string::npos ? end : end - pos));
        pos = end == std::string::npos ? end : text.find_first_not_of(kBlanks, end);
    }
    return pieces;
}

}  // namespace

bool CmxCommand::FromText(const std::string& text, CmxCommand& out) {
    out = CmxCommand();
    if (text.empty()) return false;
    if (text.size() <= kShortTableCommandChars) {
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
        if (IsHexPrefix(pair)) continue;
        uint8_t byte = 0;
        if (!HexPiece(pair, byte)) return false;
        out.prefix.push_back(byte);
    }
    return true;
}

std::string CmxCommand::CodeText() const {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", code);
    return text;
}

namespace command_text {

MaintenanceRequest ParseMaintenanceCommand(const std::string& text,
                                           const std::vector<uint8_t>& row_payload) {
    const OperationError invalid("invalid command text \"" + text + "\"");
    MaintenanceRequest request;
    if (text.size() < kShortMaintenanceCommandChars) {
        // A number with base detection (0x hexadecimal, leading 0 octal, else decimal); its low
        // byte is the code.
        if (text.empty()) throw invalid;
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text.c_str(), &end, 0);
        if (end == text.c_str() || *end != '\0' || errno == ERANGE) throw invalid;
        request.code = static_cast<uint8_t>(value & 0xFF);
        request.payload = row_payload;
        return request;
    }
    // Raw bytes: two-character pieces from the start, "0x" pieces skipped, each other piece one
    // hexadecimal byte (a lone last character is a one-digit byte).
    request.code = kExtendedCode;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string piece = text.substr(i, 2);
        if (IsHexPrefix(piece)) continue;
        uint8_t byte = 0;
        if (!HexPiece(piece, byte)) throw invalid;
        request.payload.push_back(byte);
    }
    request.payload.insert(request.payload.end(), row_payload.begin(), row_payload.end());
    return request;
}

ConsoleRequest ParseConsole(const std::string& cmd, const std::string& payload, uint32_t max_code) {
    ConsoleRequest request;
    const std::vector<std::string> cmd_pieces = Pieces(cmd);
    // A blank inside the command ("0 7") is no command at all.
    if (cmd_pieces.size() != 1) throw std::invalid_argument(kHeaderWhat);
    request.cmd_text = WithoutPrefix(cmd_pieces.front());
    request.code = HexValue(cmd_pieces.front(), max_code, kHeaderWhat);
    for (const std::string& piece : Pieces(payload)) {
        // A byte is a byte: "0102" typed without its blank must not shrink to 02.
        request.payload.push_back(static_cast<uint8_t>(HexValue(piece, kMaxByte, kPayloadWhat)));
        if (!request.payload_text.empty()) request.payload_text += ' ';
        request.payload_text += WithoutPrefix(piece);
    }
    return request;
}

}  // namespace command_text
