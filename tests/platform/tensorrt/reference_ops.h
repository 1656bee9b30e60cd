// Plain-loop references for the layer tests: NCHW tensors, convolution and transposed
// convolution written the obvious way, accumulated in double.
#pragma once

#include <cstdint>
#include <vector>

#include "NvInfer.h"

namespace trt_test {

//! An NCHW float tensor.
struct Tensor4 {
    int n, c, h, w;
    std::vector<float> v;
    Tensor4(int n_, int c_, int h_, int w_, float fill = 0.0F);
    float& at(int a, int b, int y, int x) { return v[((std::size_t(a) * c + b) * h + y) * w + x]; }
    nvinfer1::Dims4 dims() const { return nvinfer1::Dims4(n, c, h, w); }
};

//! Tensor of values in [-1, 1] drawn from seed.
Tensor4 randomTensor(int n, int c, int h, int w, uint32_t seed);

//! Shape and settings of a 2-D (de)convolution: input n c h w, maps outputs, kernel, stride,
//! symmetric padding, dilation, groups.
struct ConvSpec {
    int n, c, h, w, maps, kh, kw, sh, sw, ph, pw, dh, dw, groups;
    bool bias;
};

//! Convolution; kernel laid out [maps][c / groups][kh][kw]; empty b means no bias.
Tensor4 referenceConv(Tensor4& in, const std::vector<float>& k, const std::vector<float>& b,
                      const ConvSpec& s);

//! Transposed convolution as a scatter; kernel laid out [c][maps / groups][kh][kw].
Tensor4 referenceDeconv(Tensor4& in, const std::vector<float>& k, const std::vector<float>& b,
                        const ConvSpec& s);

//! max(x, 0) on every element.
void referenceRelu(Tensor4& t);

//! Channel concatenation of a and b.
Tensor4 referenceConcat(Tensor4& a, Tensor4& b);

}  // namespace trt_test
