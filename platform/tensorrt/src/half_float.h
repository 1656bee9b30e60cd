// IEEE-754 half precision conversions, exact in both directions (round to nearest even).
#pragma once

#include <cstddef>
#include <cstdint>

namespace trt_host {

//! Stateless; any thread.
class HalfFloat {
public:
    //! The float equal to half h (every half is exactly representable).
    static float toFloat(uint16_t h);
    //! f rounded to the nearest half, ties to even; overflow gives infinity, NaN stays NaN.
    static uint16_t fromFloat(float f);
};

//! Conversions between bindings and the float tensors the executor computes on.
class BindingConversion {
public:
    //! INT8 scale of a dynamic range: amax / 127 with amax = max(|min|, |max|).
    static float int8Scale(float range_min, float range_max);
    //! out[i] = q[i] * scale.
    static void dequantizeInt8(const int8_t* q, float* out, std::size_t count, float scale);
    //! out[i] = x[i] / scale rounded to nearest, ties away from zero, saturated to -128..127;
    //! NaN gives 0.
    static void quantizeInt8(const float* x, int8_t* out, std::size_t count, float scale);
    //! out[i] = quantizeInt8(x[i]) * scale: the int8 storage of a tensor read back as float.
    //! out may equal x.
    static void fakeQuantizeInt8(const float* x, float* out, std::size_t count, float scale);
    //! out[i] = x[i] rounded to the nearest half (ties to even), as float. out may equal x.
    static void roundToHalf(const float* x, float* out, std::size_t count);
    static void halfToFloat(const uint16_t* h, float* out, std::size_t count);
    static void floatToHalf(const float* x, uint16_t* out, std::size_t count);
};

}  // namespace trt_host
