#include "DeviceBenchCore/parsers/ipv4_parser.h"

std::vector<uint8_t> IPv4Parser::Parse(const std::string& text, float) {
    return ByteGroups(text, '.', 4, 10, "IPv4Parser: ip address, wrong format.",
                      "IPv4Parser: contains an illegal number");
}
