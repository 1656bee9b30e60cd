#include "app/denoise/src/frame_quantizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace krell::frame {
namespace {

constexpr double kMinForwardMetres = 0.1;

constexpr float kInt32Limit = 2147483520.0F;  // largest float below 2^31

int8_t toByte(float value) {
    // Truncation toward zero, then the low byte as a signed value. Frame files are outside data:
    // NaN and values beyond 32 bits (only the unclamped fourth value can get there) would make
    // the conversion undefined, so they become 0 and the nearest 32-bit value.
    if (std::isnan(value)) {
        return 0;
    }
    const auto whole = static_cast<int32_t>(std::clamp(value, -kInt32Limit, kInt32Limit));
    return static_cast<int8_t>(static_cast<uint8_t>(whole & 0xFF));
}

float roundHalfAway(float value) {
    return std::round(value);
}

}  // namespace

QuantizedPoint quantizePoint(float x, float y, float z, float w) {
    QuantizedPoint point;
    if (static_cast<double>(x) < kMinForwardMetres) {
        return point;
    }
    point.x =
        toByte(roundHalfAway((std::clamp(x, -3.84F, 160.0F) + 3.84F) / 163.84F * 255.0F) - 128.0F);
    point.y =
        toByte(roundHalfAway((std::clamp(y, -51.2F, 51.2F) + 51.2F) / 102.4F * 255.0F) - 128.0F);
    point.z =
        toByte(roundHalfAway((std::clamp(z, -8.0F, 8.0F) + 8.0F) * 0.0625F * 255.0F) - 128.0F);
    point.w = toByte(w - 128.0F);
    return point;
}

void quantizeFrame(const uint8_t* raw, int8_t* quantized) {
    std::memset(quantized, 0, kQuantizedFrameBytes);
    int8_t* planeX = quantized;
    int8_t* planeY = quantized + kFramePoints;
    int8_t* planeZ = quantized + 2 * kFramePoints;
    int8_t* planeW = quantized + 3 * kFramePoints;
    for (size_t i = 0; i < kFramePoints; ++i) {
        float record[4];
        std::memcpy(record, raw + i * kRecordBytes, sizeof(record));
        const QuantizedPoint point = quantizePoint(record[0], record[1], record[2], record[3]);
        planeX[i] = point.x;
        planeY[i] = point.y;
        planeZ[i] = point.z;
        planeW[i] = point.w;
    }
}

}  // namespace krell::frame
