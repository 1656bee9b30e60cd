#pragma once
// IntParser: signed integers of 1, 2, 4 or 8 bytes, two's complement, most significant byte first.

#include "DeviceBenchCore/parsers/str_parser.h"

class IntParser : public StrParser {
public:
    explicit IntParser(int length) : StrParser(length) {}
    //! value / coefficient truncated toward zero; throws when it does not fit `parser_length` bytes.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
