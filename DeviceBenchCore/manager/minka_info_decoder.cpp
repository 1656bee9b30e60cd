#include "DeviceBenchCore/manager/minka_info_decoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "DeviceBenchCore/table/var_info.h"

namespace {

constexpr uint8_t kHeader0 = 0xEE;
constexpr uint8_t kHeader1 = 0xFF;
constexpr uint8_t kProtocolMajor = 0x01;
constexpr uint8_t kInfoProtocol = 0x08;
constexpr uint8_t kLongProtocol = 0x0C;
constexpr size_t kShortKindAt = 5;
constexpr int kDecimals = 2;

}  // namespace

MinkaInfoDecoder::Kind MinkaInfoDecoder::Classify(const uint8_t* data, size_t size) {
    if (size <= kShortKindAt || data[0] != kHeader0 || data[1] != kHeader1) return Kind::kMalformed;
    if (data[kShortKindAt] == 1)
        return size == kShortPacketBytes ? Kind::kPoints : Kind::kMalformed;
    if (data[2] != kProtocolMajor) return Kind::kMalformed;
    if (data[3] == kInfoProtocol) return size == kInfoPacketBytes ? Kind::kInfo : Kind::kMalformed;
    if (data[3] == kLongProtocol)
        return size == kLongPacketBytes ? Kind::kPoints : Kind::kMalformed;
    return Kind::kMalformed;
}

std::string MinkaInfoDecoder::ValueText(const VarInfo& var, const uint8_t* value,
                                        const std::string& current) {
    if (var.var_name == "SN") {
        std::string text = current;
        const size_t position = value[0];
        if (text.size() < position + 1) text.resize(position + 1, ' ');
        text[position] = static_cast<char>(value[1]);
        return text;
    }
    if (var.var_type == "string") {
        std::string text;
        // A text shorter than two characters leaves its NUL out.
        for (uint8_t c : {value[1], value[0]})
            if (c != 0) text += static_cast<char>(c);
        return text;
    }
    uint32_t raw = 0;
    std::memcpy(&raw, value, sizeof(raw));  // the sensor's order, little-endian like ours
    const double scaled = static_cast<double>(raw) * static_cast<double>(var.coefficient);
    char text[64];
    if (var.var_type == "float32" || var.var_type == "double") {
        std::snprintf(text, sizeof text, "%.*f", kDecimals, scaled);
    } else {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(scaled));
    }
    return text;
}
