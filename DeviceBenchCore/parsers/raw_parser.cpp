#include "DeviceBenchCore/parsers/raw_parser.h"

#include <cstdio>

std::vector<uint8_t> RawParser::Parse(const std::string&, float) {
    std::printf("not developed\n");
    return {};
}
