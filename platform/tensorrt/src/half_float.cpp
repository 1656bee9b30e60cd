#include "platform/tensorrt/src/half_float.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/tensorrt/src/parallel_for.h"

namespace trt_host {
namespace {

constexpr uint32_t kFloatAbsMask = 0x7fffffffU;
constexpr uint32_t kFloatInfBits = 0x7f800000U;
// Smallest float that rounds to a half infinity (65520).
constexpr uint32_t kHalfOverflowBits = 0x477ff000U;
// Smallest normal half, 2^-14, as float bits.
constexpr uint32_t kHalfMinNormalBits = 0x38800000U;
constexpr uint16_t kHalfInf = 0x7c00U;
constexpr uint16_t kHalfQuietBit = 0x0200U;

uint32_t floatBits(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float bitsFloat(uint32_t bits) {
    float f = 0.0F;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Shifts value right by shift bits, rounding to nearest with ties to even.
uint32_t shiftRoundEven(uint32_t value, uint32_t shift) {
    const uint32_t kept = value >> shift;
    const uint32_t rest = value & ((1U << shift) - 1U);
    const uint32_t half = 1U << (shift - 1U);
    return kept + ((rest > half || (rest == half && (kept & 1U))) ? 1U : 0U);
}

// A value already divided by its scale, rounded to nearest with ties away from zero, saturated
// to -128..127, NaN to 0: the code an INT8 tensor stores. Branch-free (the dropped fraction
// decides the step away from zero) so that the loops over it vectorise; every step is exact or
// a single IEEE operation, so vector and scalar code give the same bits.
inline int32_t int8Code(float scaled) {
    scaled = scaled == scaled ? scaled : 0.0F;
    scaled = scaled < -128.0F ? -128.0F : scaled;
    scaled = scaled > 127.0F ? 127.0F : scaled;
    const auto truncated = static_cast<int32_t>(scaled);
    const float fraction = scaled - static_cast<float>(truncated);
    return truncated + static_cast<int32_t>(fraction >= 0.5F) -
           static_cast<int32_t>(fraction <= -0.5F);
}

// The rounding loops are the stand-in's own heaviest work on INT8 engines (one pass over every
// stored tensor); built for the widest vector unit the CPU has, chosen when the program loads.
#if defined(__has_attribute)
#if __has_attribute(target_clones) && defined(__x86_64__)
#define TRT_HOST_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#endif
#ifndef TRT_HOST_VECTOR_CLONES
#define TRT_HOST_VECTOR_CLONES
#endif

// With a power-of-two scale (amax 127 gives exactly 1) the division is done as a multiplication
// by the exact inverse, which gives the same bits faster; scaleInverse is that inverse, or 0.
TRT_HOST_VECTOR_CLONES
void fakeQuantizeSpan(const float* x, float* out, std::size_t count, float scale,
                      float scaleInverse) {
    if (scaleInverse != 0.0F) {
        TRT_HOST_SIMD
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<float>(int8Code(x[i] * scaleInverse)) * scale;
        }
        return;
    }
    TRT_HOST_SIMD
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(int8Code(x[i] / scale)) * scale;
    }
}

TRT_HOST_VECTOR_CLONES
void quantizeSpan(const float* x, int8_t* out, std::size_t count, float scale, float scaleInverse) {
    if (scaleInverse != 0.0F) {
        TRT_HOST_SIMD
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<int8_t>(int8Code(x[i] * scaleInverse));
        }
        return;
    }
    TRT_HOST_SIMD
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<int8_t>(int8Code(x[i] / scale));
    }
}

TRT_HOST_VECTOR_CLONES
void dequantizeSpan(const int8_t* q, float* out, std::size_t count, float scale) {
    TRT_HOST_SIMD
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(q[i]) * scale;
    }
}

// 1 / scale when that is exact and dividing by scale equals multiplying by it (scale a power of
// two whose inverse is a normal float); 0 otherwise.
float exactInverse(float scale) {
    int exponent = 0;
    if (!std::isfinite(scale) || std::frexp(scale, &exponent) != 0.5F) {
        return 0.0F;
    }
    const float inverse = 1.0F / scale;
    return std::isnormal(inverse) && std::isnormal(scale) ? inverse : 0.0F;
}

// Splits [0, count) into chunks spread over the threads; span(begin, length) does one chunk.
template <typename Span>
void forEachChunk(std::size_t count, Span span) {
    constexpr std::size_t kChunk = 16384;
    const std::size_t chunks = (count + kChunk - 1) / kChunk;
    TRT_HOST_PARALLEL_FOR
    for (std::size_t c = 0; c < chunks; ++c) {
        const std::size_t begin = c * kChunk;
        span(begin, std::min(kChunk, count - begin));
    }
}

}  // namespace

float HalfFloat::toFloat(uint16_t h) {
    const uint32_t sign = static_cast<uint32_t>(h & 0x8000U) << 16;
    const uint32_t exponent = (h >> 10) & 0x1fU;
    const uint32_t mantissa = h & 0x3ffU;
    if (exponent == 0) {
        const float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
        return sign ? -magnitude : magnitude;
    }
    if (exponent == 0x1f) {
        return bitsFloat(sign | kFloatInfBits | (mantissa << 13));
    }
    return bitsFloat(sign | ((exponent + 112U) << 23) | (mantissa << 13));
}

uint16_t HalfFloat::fromFloat(float f) {
    const uint32_t bits = floatBits(f);
    const auto sign = static_cast<uint16_t>((bits >> 16) & 0x8000U);
    const uint32_t magnitude = bits & kFloatAbsMask;
    if (magnitude > kFloatInfBits) {
        return static_cast<uint16_t>(sign | kHalfInf | kHalfQuietBit |
                                     ((magnitude >> 13) & 0x3ffU));
    }
    if (magnitude >= kHalfOverflowBits) {
        return static_cast<uint16_t>(sign | kHalfInf);
    }
    if (magnitude >= kHalfMinNormalBits) {
        // Rebias the exponent and round the 23-bit mantissa to 10 bits; a carry out of the
        // mantissa correctly bumps the exponent.
        const uint32_t rebased = magnitude - (112U << 23);
        return static_cast<uint16_t>(sign | shiftRoundEven(rebased, 13));
    }
    const uint32_t exponent = magnitude >> 23;
    const uint32_t shift = 126U - exponent;
    if (shift > 24U) {
        return sign;
    }
    const uint32_t mantissa = (magnitude & 0x7fffffU) | 0x800000U;
    return static_cast<uint16_t>(sign | shiftRoundEven(mantissa, shift));
}

float BindingConversion::int8Scale(float range_min, float range_max) {
    return std::max(std::fabs(range_min), std::fabs(range_max)) / 127.0F;
}

void BindingConversion::dequantizeInt8(const int8_t* q, float* out, std::size_t count,
                                       float scale) {
    forEachChunk(count, [=](std::size_t begin, std::size_t length) {
        dequantizeSpan(q + begin, out + begin, length, scale);
    });
}

void BindingConversion::quantizeInt8(const float* x, int8_t* out, std::size_t count, float scale) {
    const float inverse = exactInverse(scale);
    forEachChunk(count, [=](std::size_t begin, std::size_t length) {
        quantizeSpan(x + begin, out + begin, length, scale, inverse);
    });
}

void BindingConversion::fakeQuantizeInt8(const float* x, float* out, std::size_t count,
                                         float scale) {
    const float inverse = exactInverse(scale);
    forEachChunk(count, [=](std::size_t begin, std::size_t length) {
        fakeQuantizeSpan(x + begin, out + begin, length, scale, inverse);
    });
}

void BindingConversion::roundToHalf(const float* x, float* out, std::size_t count) {
    TRT_HOST_PARALLEL_FOR
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = HalfFloat::toFloat(HalfFloat::fromFloat(x[i]));
    }
}

void BindingConversion::halfToFloat(const uint16_t* h, float* out, std::size_t count) {
    TRT_HOST_PARALLEL_FOR
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = HalfFloat::toFloat(h[i]);
    }
}

void BindingConversion::floatToHalf(const float* x, uint16_t* out, std::size_t count) {
    TRT_HOST_PARALLEL_FOR
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = HalfFloat::fromFloat(x[i]);
    }
}

}  // namespace trt_host
