// Layers working together: activations fused into convolutions, tensors that change memory
// layout between layers (concatenation, element-wise), and a whole small denoiser-shaped network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/platform/tensorrt/network_harness.h"
#include "tests/platform/tensorrt/reference_ops.h"

namespace trt_test {
namespace {

using nvinfer1::Dims4;
using nvinfer1::DimsHW;

constexpr float kTolerance = 1e-4F;

// Adds a 3x3 (or 1x1) convolution with random weights and returns its layer; ref receives the
// reference output computed from ref_in.
nvinfer1::IConvolutionLayer* addConv(NetworkHarness& h, nvinfer1::ITensor& in, Tensor4& ref_in,
                                     int maps, int k, int stride, uint32_t seed, Tensor4& ref) {
    const ConvSpec s{ref_in.n, ref_in.c, ref_in.h, ref_in.w, maps, k, k,   stride,
                     stride,   k / 2,    k / 2,    1,        1,    1, true};
    const std::vector<float> kernel = randomValues(std::size_t(maps) * ref_in.c * k * k, seed);
    const std::vector<float> bias = randomValues(maps, seed + 1000);
    auto* conv =
        h.net().addConvolutionNd(in, maps, DimsHW(k, k), h.weights(kernel), h.weights(bias));
    conv->setStrideNd(DimsHW(stride, stride));
    conv->setPaddingNd(DimsHW(k / 2, k / 2));
    ref = referenceConv(ref_in, kernel, bias, s);
    return conv;
}

TEST(FusedActivation, ReluAndClipAfterConvolution_ApplyToConvolutionOutput) {
    Tensor4 in = randomTensor(1, 5, 9, 11, 20);
    NetworkHarness h;
    nvinfer1::ITensor* input = h.input("in", in.dims());
    Tensor4 conv_ref(0, 0, 0, 0);
    auto* conv = addConv(h, *input, in, 7, 3, 1, 21, conv_ref);
    auto* relu = h.net().addActivation(*conv->getOutput(0), nvinfer1::ActivationType::kRELU);
    Tensor4 clip_ref(0, 0, 0, 0);
    auto* conv2 = addConv(h, *input, in, 7, 3, 1, 21, clip_ref);
    auto* clip = h.net().addActivation(*conv2->getOutput(0), nvinfer1::ActivationType::kCLIP);
    clip->setAlpha(-0.2F);
    clip->setBeta(0.3F);
    h.output(relu->getOutput(0), "relu");
    h.output(clip->getOutput(0), "clip");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    EXPECT_EQ(engine->getNbLayers(), 2);  // both activations ride on their convolutions
    Tensor4 relu_ref = conv_ref;
    referenceRelu(relu_ref);
    for (float& v : clip_ref.v)
        v = std::min(std::max(v, -0.2F), 0.3F);
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 2U);
    EXPECT_LE(maxDifference(out[0], relu_ref.v), kTolerance);
    EXPECT_LE(maxDifference(out[1], clip_ref.v), kTolerance);
}

TEST(FusedActivation, ConvolutionOutputAlsoReadElsewhere_IsNotFused) {
    Tensor4 in = randomTensor(1, 3, 6, 7, 22);
    NetworkHarness h;
    Tensor4 conv_ref(0, 0, 0, 0);
    auto* conv = addConv(h, *h.input("in", in.dims()), in, 4, 3, 1, 23, conv_ref);
    auto* relu = h.net().addActivation(*conv->getOutput(0), nvinfer1::ActivationType::kRELU);
    h.output(conv->getOutput(0), "raw");
    h.output(relu->getOutput(0), "relu");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    EXPECT_EQ(engine->getNbLayers(), 2);
    Tensor4 relu_ref = conv_ref;
    referenceRelu(relu_ref);
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 2U);
    EXPECT_LE(maxDifference(out[0], conv_ref.v), kTolerance);
    EXPECT_LE(maxDifference(out[1], relu_ref.v), kTolerance);
}

TEST(Concatenation, ChannelCountsOffTheVectorWidth_KeepChannelOrder) {
    Tensor4 in = randomTensor(1, 4, 5, 9, 24);
    NetworkHarness h;
    nvinfer1::ITensor* input = h.input("in", in.dims());
    Tensor4 a(0, 0, 0, 0), b(0, 0, 0, 0);
    auto* conv_a = addConv(h, *input, in, 3, 3, 1, 25, a);
    auto* conv_b = addConv(h, *input, in, 16, 1, 1, 26, b);
    nvinfer1::ITensor* parts[] = {conv_a->getOutput(0), conv_b->getOutput(0), input};
    auto* concat = h.net().addConcatenation(parts, 3);
    h.output(concat->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    EXPECT_EQ(engine->getBindingDimensions(1).d[1], 23);
    Tensor4 ab = referenceConcat(a, b);
    const Tensor4 expected = referenceConcat(ab, in);
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_LE(maxDifference(out[0], expected.v), kTolerance);
}

TEST(Concatenation, UpsamplingDeconvolutionAsSecondInput_IsExpandedInPlace) {
    Tensor4 low = randomTensor(2, 3, 4, 5, 40);
    Tensor4 skip = randomTensor(2, 4, 8, 15, 41);
    const ConvSpec up{2, 3, 4, 5, 2, 2, 3, 2, 3, 0, 0, 1, 1, 1, true};
    const std::vector<float> k = randomValues(3 * 2 * 6, 42), b = randomValues(2, 43);
    NetworkHarness h;
    nvinfer1::ITensor* skip_in = h.input("skip", skip.dims());
    auto* deconv = h.net().addDeconvolutionNd(*h.input("low", low.dims()), 2, DimsHW(2, 3),
                                              h.weights(k), h.weights(b));
    deconv->setStrideNd(DimsHW(2, 3));
    nvinfer1::ITensor* parts[] = {skip_in, deconv->getOutput(0)};
    h.output(h.net().addConcatenation(parts, 2)->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    Tensor4 upsampled = referenceDeconv(low, k, b, up);
    const Tensor4 expected = referenceConcat(skip, upsampled);
    const auto out = runFloat(*engine, {skip.v, low.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_LE(maxDifference(out[0], expected.v), kTolerance);
}

TEST(ElementWise, MixedLayoutsAndBroadcast_MatchPlainArithmetic) {
    Tensor4 in = randomTensor(1, 6, 5, 7, 27);
    Tensor4 gain = randomTensor(1, 6, 1, 1, 28);
    NetworkHarness h;
    nvinfer1::ITensor* input = h.input("in", in.dims());
    nvinfer1::ITensor* per_channel = h.input("gain", gain.dims());
    Tensor4 conv_ref(0, 0, 0, 0);
    auto* conv = addConv(h, *input, in, 6, 3, 1, 29, conv_ref);
    using Op = nvinfer1::ElementWiseOperation;
    auto* diff = h.net().addElementWise(*conv->getOutput(0), *input, Op::kSUB);
    auto* scaled = h.net().addElementWise(*diff->getOutput(0), *per_channel, Op::kPROD);
    auto* shifted = h.net().addElementWise(*per_channel, *scaled->getOutput(0), Op::kSUM);
    h.output(shifted->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    Tensor4 expected = conv_ref;
    for (int c = 0; c < 6; ++c)
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                float& v = expected.at(0, c, y, x);
                v = gain.v[c] + (v - in.at(0, c, y, x)) * gain.v[c];
            }
    const auto out = runFloat(*engine, {in.v, gain.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_LE(maxDifference(out[0], expected.v), kTolerance);
}

float amaxOf(const std::vector<float>& values) {
    float top = 0.0F;
    for (float v : values)
        top = std::max(top, std::fabs(v));
    return top;
}

// conv 8->16 3x3 + ReLU, conv 16->16 3x3 stride 2 + ReLU, conv 16->4 1x1; every tensor with the
// dynamic range its float values reach. int8_compute selects the int8 convolution path.
std::vector<float> runRangedChain(bool int8_compute, Tensor4& in, Tensor4& expected) {
    NetworkHarness h;
    nvinfer1::ITensor* input = h.input("in", in.dims());
    input->setDynamicRange(-1.0F, 1.0F);
    Tensor4 r1(0, 0, 0, 0), r2(0, 0, 0, 0);
    auto* c1 = addConv(h, *input, in, 16, 3, 1, 60, r1);
    referenceRelu(r1);
    nvinfer1::ITensor* t1 =
        h.net().addActivation(*c1->getOutput(0), nvinfer1::ActivationType::kRELU)->getOutput(0);
    t1->setDynamicRange(-amaxOf(r1.v), amaxOf(r1.v));
    auto* c2 = addConv(h, *t1, r1, 16, 3, 2, 61, r2);
    referenceRelu(r2);
    nvinfer1::ITensor* t2 =
        h.net().addActivation(*c2->getOutput(0), nvinfer1::ActivationType::kRELU)->getOutput(0);
    t2->setDynamicRange(-amaxOf(r2.v), amaxOf(r2.v));
    h.output(addConv(h, *t2, r2, 4, 1, 1, 62, expected)->getOutput(0), "out");
    if (int8_compute) {
        h.config().setFlag(nvinfer1::BuilderFlag::kINT8);
        h.config().setFlag(nvinfer1::BuilderFlag::kHOST_INT8_COMPUTE);
    }
    auto engine = h.engine();
    EXPECT_TRUE(engine) << h.logger().text();
    return engine ? runFloat(*engine, {in.v}).at(0) : std::vector<float>{};
}

TEST(Int8Compute, ConvolutionChain_StaysWithinAFewQuantisationSteps) {
    Tensor4 in = randomTensor(1, 8, 12, 17, 63);
    Tensor4 expected(0, 0, 0, 0);
    const std::vector<float> exact = runRangedChain(false, in, expected);
    const std::vector<float> quantised = runRangedChain(true, in, expected);
    ASSERT_EQ(quantised.size(), expected.v.size());
    EXPECT_LE(maxRelativeDifference(exact, expected.v), 1e-5F);
    const float difference = maxDifference(quantised, expected.v);
    EXPECT_GT(difference, 0.0F);  // the int8 path really ran
    EXPECT_LE(difference, 0.03F * amaxOf(expected.v));
}

// conv 4->16, conv 16->32 stride 2, conv 32->32, deconv 32->16 2x2 stride 2, concat with the
// first convolution, conv 32->16, conv 16->1 1x1; ReLU after every layer but the last.
// Upsampled maps that fill no whole channel block: the copy runs channel by channel and the
// blocked result's padding channels, read by the convolution after it, must hold zeros.
TEST(Upsampling, MapsOffTheChannelBlock_ThenConcatenationAndConvolution) {
    Tensor4 low = randomTensor(2, 6, 5, 7, 80);
    Tensor4 skip = randomTensor(2, 3, 10, 14, 81);
    const ConvSpec up{2, 6, 5, 7, 5, 2, 2, 2, 2, 0, 0, 1, 1, 1, true};
    const std::vector<float> k = randomValues(6 * 5 * 4, 82), b = randomValues(5, 83);
    NetworkHarness h;
    nvinfer1::ITensor* low_in = h.input("low", low.dims());
    // Two copies: one read by a convolution alone, one read only by the concatenation (which
    // then expands it itself).
    auto upsample = [&] {
        auto* deconv =
            h.net().addDeconvolutionNd(*low_in, 5, DimsHW(2, 2), h.weights(k), h.weights(b));
        deconv->setStrideNd(DimsHW(2, 2));
        return deconv->getOutput(0);
    };
    Tensor4 upsampled = referenceDeconv(low, k, b, up);
    Tensor4 alone(0, 0, 0, 0), joined(0, 0, 0, 0);
    h.output(addConv(h, *upsample(), upsampled, 4, 3, 1, 84, alone)->getOutput(0), "alone");
    nvinfer1::ITensor* parts[] = {h.input("skip", skip.dims()), upsample()};
    Tensor4 cat = referenceConcat(skip, upsampled);
    auto* concat = h.net().addConcatenation(parts, 2);
    h.output(addConv(h, *concat->getOutput(0), cat, 4, 3, 1, 85, joined)->getOutput(0), "joined");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const auto out = runFloat(*engine, {low.v, skip.v});
    ASSERT_EQ(out.size(), 2U);
    EXPECT_LE(maxRelativeDifference(out[0], alone.v), 1e-5F);
    EXPECT_LE(maxRelativeDifference(out[1], joined.v), 1e-5F);
}

TEST(DenoiserShapedNetwork, EndToEnd_MatchesComposedReferences) {
    Tensor4 in = randomTensor(1, 4, 8, 22, 30);
    NetworkHarness h;
    Tensor4 r1(0, 0, 0, 0), r2(0, 0, 0, 0), r3(0, 0, 0, 0), r5(0, 0, 0, 0), r6(0, 0, 0, 0);
    auto relu = [&h](nvinfer1::ILayer* layer) {
        return h.net()
            .addActivation(*layer->getOutput(0), nvinfer1::ActivationType::kRELU)
            ->getOutput(0);
    };
    nvinfer1::ITensor* t1 = relu(addConv(h, *h.input("in", in.dims()), in, 16, 3, 1, 31, r1));
    referenceRelu(r1);
    nvinfer1::ITensor* t2 = relu(addConv(h, *t1, r1, 32, 3, 2, 32, r2));
    referenceRelu(r2);
    nvinfer1::ITensor* t3 = relu(addConv(h, *t2, r2, 32, 3, 1, 33, r3));
    referenceRelu(r3);
    const ConvSpec up{1, 32, r3.h, r3.w, 16, 2, 2, 2, 2, 0, 0, 1, 1, 1, true};
    const std::vector<float> up_k = randomValues(32 * 16 * 4, 34), up_b = randomValues(16, 35);
    auto* deconv =
        h.net().addDeconvolutionNd(*t3, 16, DimsHW(2, 2), h.weights(up_k), h.weights(up_b));
    deconv->setStrideNd(DimsHW(2, 2));
    nvinfer1::ITensor* t4 = relu(deconv);
    Tensor4 r4 = referenceDeconv(r3, up_k, up_b, up);
    referenceRelu(r4);
    nvinfer1::ITensor* parts[] = {t4, t1};
    nvinfer1::ITensor* cat = h.net().addConcatenation(parts, 2)->getOutput(0);
    Tensor4 rcat = referenceConcat(r4, r1);
    nvinfer1::ITensor* t5 = relu(addConv(h, *cat, rcat, 16, 3, 1, 36, r5));
    referenceRelu(r5);
    h.output(addConv(h, *t5, r5, 1, 1, 1, 37, r6)->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    EXPECT_EQ(engine->getNbLayers(), 7);
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 1U);
    // Six layers of sums of up to 288 products grow the values; rounding stays relative to them.
    EXPECT_LE(maxRelativeDifference(out[0], r6.v), 1e-5F);
}

}  // namespace
}  // namespace trt_test
