#include "libkrell/Frame/hex_text.h"

namespace krell {
namespace lidar {

std::string ToHexText(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 0x0F]);
        text.push_back(' ');
    }
    return text;
}

std::string ToHexText(const std::vector<uint8_t>& bytes) {
    return ToHexText(bytes.data(), bytes.size());
}

}  // namespace lidar
}  // namespace krell
