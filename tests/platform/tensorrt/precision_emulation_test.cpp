// INT8 and FP16 engines store their inner tensors as a GPU would: a tensor with a dynamic range
// is quantised to int8 at that range where it is produced, and with FP16 the other intermediate
// tensors are rounded to half. Checked against plain loops that fake-quantise the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/platform/tensorrt/network_harness.h"
#include "tests/platform/tensorrt/reference_ops.h"

namespace trt_test {
namespace {

using nvinfer1::BuilderFlag;
using nvinfer1::DataType;
using nvinfer1::Dims4;
using nvinfer1::DimsHW;

// The int8 storage of a tensor with range +-amax, read back as float.
float fakeQuantise(float x, float amax) {
    const float scale = amax / 127.0F;
    const float q = std::round(std::min(std::max(x / scale, -128.0F), 127.0F));
    return q * scale;
}

void fakeQuantise(std::vector<float>& values, float amax) {
    for (float& v : values)
        v = fakeQuantise(v, amax);
}

float amaxOf(const std::vector<float>& values) {
    float top = 0.0F;
    for (float v : values)
        top = std::max(top, std::fabs(v));
    return top;
}

// A 1x1 convolution of one channel with weight w and no bias.
nvinfer1::ITensor* scale(NetworkHarness& h, nvinfer1::ITensor& in, float w) {
    return h.net()
        .addConvolutionNd(in, 1, DimsHW(1, 1), h.weights({w}), h.weights({}))
        ->getOutput(0);
}

std::vector<float> ramp(int count, float low, float high) {
    std::vector<float> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        values[i] = low + (high - low) * static_cast<float>(i) / static_cast<float>(count - 1);
    return values;
}

void setInt8(NetworkHarness& h, bool int8_kernels) {
    h.config().setFlag(BuilderFlag::kINT8);
    if (int8_kernels) {
        h.config().setFlag(BuilderFlag::kHOST_INT8_COMPUTE);
    }
}

class Int8Emulation : public ::testing::TestWithParam<bool> {};

// Two identity convolutions; the tensor between them has the range +-0.1.
TEST_P(Int8Emulation, InnerTensorRange_SaturatesWhatTheNextLayerReads) {
    NetworkHarness h;
    nvinfer1::ITensor* in = h.input("in", Dims4(1, 1, 1, 201));
    in->setDynamicRange(-1.0F, 1.0F);
    nvinfer1::ITensor* mid = scale(h, *in, 1.0F);
    mid->setDynamicRange(-0.1F, 0.1F);
    h.output(scale(h, *mid, 1.0F), "out");
    setInt8(h, GetParam());
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const std::vector<float> x = ramp(201, -1.0F, 1.0F);
    const std::vector<float> out = runFloat(*engine, {x}).at(0);
    ASSERT_EQ(out.size(), x.size());
    // The int8 kernels also quantise the weights (to 7 bits on CPUs without VNNI, where oneDNN
    // halves them), in both layers: exact up to that relative error.
    const float relative = GetParam() ? 1.0F / 32.0F : 1e-6F;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float expected = fakeQuantise(fakeQuantise(x[i], 1.0F), 0.1F);
        EXPECT_NEAR(out[i], expected, relative * std::fabs(expected) + 1e-7F) << "x = " << x[i];
    }
    // Saturated at +127 and -128 steps of 0.1 / 127.
    const float top = *std::max_element(out.begin(), out.end());
    const float bottom = *std::min_element(out.begin(), out.end());
    EXPECT_NEAR(top, 0.1F, relative * 0.1F + 1e-7F);
    EXPECT_NEAR(bottom, -0.1F * 128.0F / 127.0F, relative * 0.1F + 1e-7F);
}

// conv 4->8 3x3 + ReLU, conv 8->8 3x3, conv 8->2 1x1. The first two results get ranges well
// inside what they reach (so they saturate); the second is also a network output.
TEST_P(Int8Emulation, SaturatedInnerTensors_MatchPlainLoopsWithFakeQuantisation) {
    Tensor4 in = randomTensor(1, 4, 9, 13, 70);
    const std::vector<float> k1 = randomValues(8 * 4 * 9, 71), b1 = randomValues(8, 72);
    const std::vector<float> k2 = randomValues(8 * 8 * 9, 73), b2 = randomValues(8, 74);
    const std::vector<float> k3 = randomValues(2 * 8, 75), b3 = randomValues(2, 76);
    // The engine quantises its input too (range +-1); the loops start from that.
    Tensor4 quantised_in = in;
    fakeQuantise(quantised_in.v, 1.0F);
    Tensor4 r1 =
        referenceConv(quantised_in, k1, b1, {1, 4, 9, 13, 8, 3, 3, 1, 1, 1, 1, 1, 1, 1, true});
    referenceRelu(r1);
    const float amax1 = 0.5F * amaxOf(r1.v);
    fakeQuantise(r1.v, amax1);
    Tensor4 r2 = referenceConv(r1, k2, b2, {1, 8, 9, 13, 8, 3, 3, 1, 1, 1, 1, 1, 1, 1, true});
    const float amax2 = 0.6F * amaxOf(r2.v);
    fakeQuantise(r2.v, amax2);
    Tensor4 r3 = referenceConv(r2, k3, b3, {1, 8, 9, 13, 2, 1, 1, 1, 1, 0, 0, 1, 1, 1, true});

    NetworkHarness h;
    nvinfer1::ITensor* input = h.input("in", in.dims());
    input->setDynamicRange(-1.0F, 1.0F);
    auto conv = [&h](nvinfer1::ITensor& x, int maps, int k, const std::vector<float>& w,
                     const std::vector<float>& b) {
        auto* layer = h.net().addConvolutionNd(x, maps, DimsHW(k, k), h.weights(w), h.weights(b));
        layer->setPaddingNd(DimsHW(k / 2, k / 2));
        return layer->getOutput(0);
    };
    nvinfer1::ITensor* c1 = conv(*input, 8, 3, k1, b1);
    c1->setDynamicRange(-amax1, amax1);
    nvinfer1::ITensor* t1 =
        h.net().addActivation(*c1, nvinfer1::ActivationType::kRELU)->getOutput(0);
    t1->setDynamicRange(-amax1, amax1);
    nvinfer1::ITensor* t2 = conv(*t1, 8, 3, k2, b2);
    t2->setDynamicRange(-amax2, amax2);
    h.output(conv(*t2, 2, 1, k3, b3), "out");
    h.output(t2, "t2");
    setInt8(h, GetParam());
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const auto outs = runFloat(*engine, {in.v});
    ASSERT_EQ(outs.size(), 2U);

    // t2 as stored: on the int8 grid of its range, saturated at -128 and 127 steps, and as the
    // loops say (a value within rounding noise of a grid midpoint may land on the neighbour; the
    // int8 kernels' own weight quantisation moves more of them).
    const float step2 = amax2 / 127.0F;
    int off_grid_point = 0;
    for (std::size_t i = 0; i < outs[1].size(); ++i) {
        const float q = outs[1][i] / step2;
        EXPECT_NEAR(q, std::round(q), 1e-3F);
        EXPECT_GE(q, -128.001F);
        EXPECT_LE(q, 127.001F);
        off_grid_point += std::fabs(outs[1][i] - r2.v[i]) > step2 * 0.5F ? 1 : 0;
    }
    if (GetParam()) {
        EXPECT_LE(maxDifference(outs[1], r2.v), 0.05F * amax2);
    } else {
        EXPECT_LE(static_cast<std::size_t>(off_grid_point), outs[1].size() / 100);
    }
    // The saturation really happened: the float network would reach well past the ranges.
    EXPECT_GT(amaxOf(r2.v), 0.0F);
    EXPECT_LE(maxDifference(outs[0], r3.v), 0.05F * amaxOf(r3.v));
    EXPECT_LE(maxRelativeDifference(outs[0], r3.v), GetParam() ? 0.05F : 0.01F);
}

INSTANTIATE_TEST_SUITE_P(FloatAndInt8Kernels, Int8Emulation, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Int8Kernels" : "FloatKernels";
                         });

TEST(Int8Ranges, WithoutTheInt8Flag_RangesChangeNothing) {
    NetworkHarness h;
    nvinfer1::ITensor* in = h.input("in", Dims4(1, 1, 1, 201));
    in->setDynamicRange(-1.0F, 1.0F);
    nvinfer1::ITensor* mid = scale(h, *in, 1.0F);
    mid->setDynamicRange(-0.1F, 0.1F);
    h.output(scale(h, *mid, 1.0F), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const std::vector<float> x = ramp(201, -1.0F, 1.0F);
    EXPECT_EQ(runFloat(*engine, {x}).at(0), x);
}

TEST(Int8Ranges, Int8OutputWithoutRange_IsRefusedAtBuild) {
    NetworkHarness h;
    nvinfer1::ITensor* in = h.input("in", Dims4(1, 1, 1, 8));
    in->setDynamicRange(-1.0F, 1.0F);
    nvinfer1::ITensor* out = scale(h, *in, 1.0F);
    out->setType(DataType::kINT8);
    h.output(out, "out");
    setInt8(h, false);
    EXPECT_FALSE(h.serialize());
    EXPECT_NE(h.logger().text().find("Error Code 4"), std::string::npos) << h.logger().text();
    EXPECT_NE(h.logger().text().find("out"), std::string::npos);
}

// Half of x, read back as float (the compiler's own conversion, round to nearest even).
float toHalf(float x) {
    return static_cast<float>(static_cast<_Float16>(x));
}

// x -> identity convolution -> mid -> convolution by w -> out. mid is an intermediate tensor.
TEST(Fp16Emulation, IntermediateTensor_IsRoundedToHalfButTheFloatOutputIsNot) {
    const float w = 1.0F + std::ldexp(1.0F, -12);
    std::vector<float> x;
    for (int i = 0; i < 64; ++i)
        x.push_back((1.0F + static_cast<float>(i) * std::ldexp(1.0F, -14)) *
                    (i % 2 ? -3.0F : 1.0F));
    x.push_back(70000.0F);               // beyond the largest half
    x.push_back(std::ldexp(1.0F, -26));  // below the smallest half subnormal's half-way
    x.push_back(std::ldexp(1.5F, -20));  // a half subnormal
    const int count = static_cast<int>(x.size());
    for (bool fp16 : {false, true}) {
        NetworkHarness h;
        nvinfer1::ITensor* in = h.input("in", Dims4(1, 1, 1, count));
        h.output(scale(h, *scale(h, *in, 1.0F), w), "out");
        if (fp16) {
            h.config().setFlag(BuilderFlag::kFP16);
        }
        auto engine = h.engine();
        ASSERT_TRUE(engine) << h.logger().text();
        const std::vector<float> out = runFloat(*engine, {x}).at(0);
        ASSERT_EQ(out.size(), x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float expected = (fp16 ? toHalf(x[i]) : x[i]) * w;
            EXPECT_EQ(out[i], expected) << (fp16 ? "fp16 " : "fp32 ") << "x = " << x[i];
        }
    }
}

}  // namespace
}  // namespace trt_test
