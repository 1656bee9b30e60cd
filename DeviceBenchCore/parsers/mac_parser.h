#pragma once
// MacParser: colon-separated MAC address text to its 6 bytes in text order.

#include "DeviceBenchCore/parsers/str_parser.h"

class MacParser : public StrParser {
public:
    //! Six hexadecimal pieces 0..255 (empty pieces dropped); the coefficient is unused.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
