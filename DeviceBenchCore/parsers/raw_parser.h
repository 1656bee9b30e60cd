#pragma once
// RawParser: "raw" variables have no text form; their bytes are sent as read from the device.

#include "DeviceBenchCore/parsers/str_parser.h"

class RawParser : public StrParser {
public:
    //! Always no bytes (printing "not developed"); callers keep the device's bytes for raw values.
    std::vector<uint8_t> Parse(const std::string& text, float coefficient) override;
};
