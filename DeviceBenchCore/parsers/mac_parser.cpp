#include "DeviceBenchCore/parsers/mac_parser.h"

std::vector<uint8_t> MacParser::Parse(const std::string& text, float) {
    return ByteGroups(text, ':', 6, 16, "MacParser: ip address, wrong format.",
                      "MacParser: contains an illegal number");
}
