#pragma once
// DoubleParser: IEEE 754 double precision, 8 bytes, most significant first.

#include "DeviceBenchCore/parsers/str_parser.h"

class DoubleParser : public StrParser {
public:
    //! The bytes of value / coefficient (in double precision); throws for text that is no number or
    //! no finite value.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
