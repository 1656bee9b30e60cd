#pragma once
// IPv4Parser: dotted IPv4 address text to its 4 bytes in text order.

#include "DeviceBenchCore/parsers/str_parser.h"

class IPv4Parser : public StrParser {
public:
    //! Four decimal pieces 0..255 (empty pieces between dots are dropped); the coefficient is unused.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
