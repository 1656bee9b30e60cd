#include "libkrell/CmxClient/general_cmx_parser.h"

namespace krell {
namespace lidar {

bool GeneralCmxParser::CmxFilestreamSend(const std::vector<uint8_t>&, uint8_t,
                                         std::vector<std::vector<uint8_t>>&) {
    return true;
}

bool GeneralCmxParser::CmxFilestreamFrame(const std::vector<uint8_t>&, uint8_t, size_t,
                                          std::vector<uint8_t>&) {
    return false;
}

void PutU32Be(uint8_t* dst, uint32_t value) {
    dst[0] = static_cast<uint8_t>(value >> 24);
    dst[1] = static_cast<uint8_t>(value >> 16);
    dst[2] = static_cast<uint8_t>(value >> 8);
    dst[3] = static_cast<uint8_t>(value);
}

uint32_t GetU32Be(const uint8_t* src) {
    return (static_cast<uint32_t>(src[0]) << 24) | (static_cast<uint32_t>(src[1]) << 16) |
           (static_cast<uint32_t>(src[2]) << 8) | static_cast<uint32_t>(src[3]);
}

}  // namespace lidar
}  // namespace krell
