#pragma once
// FloatParser: IEEE 754 single precision, 4 bytes, most significant first.

#include "DeviceBenchCore/parsers/str_parser.h"

class FloatParser : public StrParser {
public:
    //! The bytes of value / coefficient; throws for text that is no number or no finite value.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
