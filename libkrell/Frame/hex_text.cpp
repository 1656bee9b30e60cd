#include "libkrell/Frame/hex_text.h"

namespace krell {
namespace lidar {
namespace {

std::string HexOf(const uint8_t* data, size_t size, bool blanks) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * (blanks ? 3 : 2));
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 0x0F]);
        if (blanks) text.push_back(' ');
    }
    return text;
}

}  // namespace

std::string ToHexText(const uint8_t* data, size_t size) {
    return HexOf(data, size, true);
}

std::string ToHexText(const std::vector<uint8_t>& bytes) {
    return HexOf(bytes.data(), bytes.size(), true);
}

std::string ToHexDigits(const std::vector<uint8_t>& bytes) {
    return HexOf(bytes.data(), bytes.size(), false);
}

}  // namespace lidar
}  // namespace krell
