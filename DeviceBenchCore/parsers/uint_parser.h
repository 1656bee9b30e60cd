#pragma once
// UintParser: unsigned integers of 1, 2, 4 or 8 bytes, most significant byte first.

#include "DeviceBenchCore/parsers/str_parser.h"

class UintParser : public StrParser {
public:
    explicit UintParser(int length) : StrParser(length) {}
    //! value / coefficient truncated toward zero; throws when it does not fit `parser_length` bytes.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
