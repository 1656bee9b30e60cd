// Every layer kind against plain-loop references, on odd sizes. Tolerance: float rounding of
// sums of at most a few hundred products of values in [-1, 1]; kTolerance = 1e-4 absolute.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "tests/platform/tensorrt/network_harness.h"
#include "tests/platform/tensorrt/reference_ops.h"

namespace trt_test {
namespace {

using nvinfer1::Dims4;
using nvinfer1::DimsHW;

constexpr float kTolerance = 1e-4F;

template <typename Layer>
void configure(Layer* layer, const ConvSpec& s) {
    layer->setStrideNd(DimsHW(s.sh, s.sw));
    layer->setPaddingNd(DimsHW(s.ph, s.pw));
    layer->setDilationNd(DimsHW(s.dh, s.dw));
    layer->setNbGroups(s.groups);
}

class ConvolutionReference : public ::testing::TestWithParam<ConvSpec> {};

TEST_P(ConvolutionReference, OddShapes_MatchPlainLoops) {
    const ConvSpec s = GetParam();
    Tensor4 in = randomTensor(s.n, s.c, s.h, s.w, 1);
    const std::vector<float> k =
        randomValues(std::size_t(s.maps) * (s.c / s.groups) * s.kh * s.kw, 2);
    const std::vector<float> b = s.bias ? randomValues(s.maps, 3) : std::vector<float>{};
    NetworkHarness h;
    auto* conv = h.net().addConvolutionNd(*h.input("in", in.dims()), s.maps, DimsHW(s.kh, s.kw),
                                          h.weights(k), h.weights(b));
    configure(conv, s);
    h.output(conv->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const Tensor4 expected = referenceConv(in, k, b, s);
    EXPECT_EQ(Dims4(expected.n, expected.c, expected.h, expected.w).d[2],
              engine->getBindingDimensions(1).d[2]);
    EXPECT_EQ(expected.w, engine->getBindingDimensions(1).d[3]);
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_LE(maxDifference(out[0], expected.v), kTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ConvolutionReference,
    ::testing::Values(ConvSpec{1, 3, 7, 9, 5, 3, 3, 1, 1, 1, 1, 1, 1, 1, true},
                      ConvSpec{2, 4, 11, 13, 6, 3, 5, 2, 3, 1, 2, 1, 1, 2, true},
                      ConvSpec{1, 6, 9, 10, 6, 3, 3, 1, 2, 2, 1, 2, 2, 3, false},
                      ConvSpec{1, 4, 8, 7, 4, 3, 3, 1, 1, 1, 1, 1, 1, 4, true},
                      ConvSpec{1, 16, 5, 7, 1, 1, 1, 1, 1, 0, 0, 1, 1, 1, true}));

class DeconvolutionReference : public ::testing::TestWithParam<ConvSpec> {};

TEST_P(DeconvolutionReference, OddShapes_MatchScatterLoops) {
    const ConvSpec s = GetParam();
    Tensor4 in = randomTensor(s.n, s.c, s.h, s.w, 4);
    const std::vector<float> k =
        randomValues(std::size_t(s.c) * (s.maps / s.groups) * s.kh * s.kw, 5);
    const std::vector<float> b = s.bias ? randomValues(s.maps, 6) : std::vector<float>{};
    NetworkHarness h;
    auto* deconv = h.net().addDeconvolutionNd(*h.input("in", in.dims()), s.maps, DimsHW(s.kh, s.kw),
                                              h.weights(k), h.weights(b));
    configure(deconv, s);
    h.output(deconv->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_LE(maxDifference(out[0], referenceDeconv(in, k, b, s).v), kTolerance);
}

INSTANTIATE_TEST_SUITE_P(Shapes, DeconvolutionReference,
                         ::testing::Values(ConvSpec{1, 4, 5, 7, 3, 2, 2, 2, 2, 0, 0, 1, 1, 1, true},
                                           ConvSpec{1, 4, 6, 5, 6, 3, 3, 2, 2, 1, 1, 1, 1, 2, true},
                                           ConvSpec{2, 3, 4, 5, 2, 3, 2, 1, 3, 0, 1, 2, 1, 1,
                                                    false}));

struct PoolSpec {
    nvinfer1::PoolingType type;
    bool exclude;
    int kh, kw, sh, sw, ph, pw;
    bool after_conv;  // read the input through an identity 1x1 convolution (its memory layout)
};

Tensor4 referencePool(Tensor4& in, const PoolSpec& p) {
    const int oh = (in.h + 2 * p.ph - p.kh) / p.sh + 1, ow = (in.w + 2 * p.pw - p.kw) / p.sw + 1;
    Tensor4 out(in.n, in.c, oh, ow);
    for (int n = 0; n < in.n; ++n)
        for (int c = 0; c < in.c; ++c)
            for (int y = 0; y < oh; ++y)
                for (int x = 0; x < ow; ++x) {
                    double sum = 0.0, best = -std::numeric_limits<double>::infinity();
                    int valid = 0;
                    for (int ky = 0; ky < p.kh; ++ky)
                        for (int kx = 0; kx < p.kw; ++kx) {
                            const int iy = y * p.sh - p.ph + ky, ix = x * p.sw - p.pw + kx;
                            if (iy < 0 || iy >= in.h || ix < 0 || ix >= in.w) continue;
                            sum += in.at(n, c, iy, ix);
                            best = std::max(best, double(in.at(n, c, iy, ix)));
                            ++valid;
                        }
                    const double average = sum / (p.exclude ? valid : p.kh * p.kw);
                    out.at(n, c, y, x) =
                        float(p.type == nvinfer1::PoolingType::kMAX ? best : average);
                }
    return out;
}

class PoolingReference : public ::testing::TestWithParam<PoolSpec> {};

TEST_P(PoolingReference, PaddingCountedOrExcluded_MatchesPlainLoops) {
    const PoolSpec p = GetParam();
    Tensor4 in = randomTensor(2, 3, 7, 9, 7);
    NetworkHarness h;
    nvinfer1::ITensor* source = h.input("in", in.dims());
    if (p.after_conv) {
        std::vector<float> identity(9, 0.0F);
        for (int c = 0; c < 3; ++c)
            identity[c * 4] = 1.0F;
        source = h.net()
                     .addConvolutionNd(*source, 3, DimsHW(1, 1), h.weights(identity),
                                       nvinfer1::Weights{})
                     ->getOutput(0);
    }
    auto* pool = h.net().addPoolingNd(*source, p.type, DimsHW(p.kh, p.kw));
    pool->setStrideNd(DimsHW(p.sh, p.sw));
    pool->setPaddingNd(DimsHW(p.ph, p.pw));
    pool->setAverageCountExcludesPadding(p.exclude);
    h.output(pool->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_LE(maxDifference(out[0], referencePool(in, p).v), kTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PoolingReference,
    ::testing::Values(PoolSpec{nvinfer1::PoolingType::kMAX, true, 3, 2, 2, 2, 1, 1, false},
                      PoolSpec{nvinfer1::PoolingType::kAVERAGE, true, 3, 3, 2, 2, 1, 1, false},
                      PoolSpec{nvinfer1::PoolingType::kAVERAGE, false, 3, 3, 2, 2, 1, 1, false},
                      PoolSpec{nvinfer1::PoolingType::kAVERAGE, false, 2, 3, 1, 3, 0, 2, true},
                      PoolSpec{nvinfer1::PoolingType::kMAX, true, 3, 3, 2, 2, 1, 1, true}));

TEST(SoftMaxReference, ChannelAndLastAxis_SumToOne) {
    Tensor4 in = randomTensor(2, 5, 3, 4, 8);
    for (float& v : in.v)
        v *= 8.0F;  // wide range exercises the max subtraction
    for (const uint32_t axes : {0U, 1U << 3}) {
        NetworkHarness h;
        auto* softmax = h.net().addSoftMax(*h.input("in", in.dims()));
        if (axes != 0) softmax->setAxes(axes);
        h.output(softmax->getOutput(0), "out");
        auto engine = h.engine();
        ASSERT_TRUE(engine) << h.logger().text();
        Tensor4 expected = in;
        const bool channel = axes == 0;
        for (int n = 0; n < in.n; ++n)
            for (int o = 0; o < (channel ? in.h * in.w : in.c * in.h); ++o) {
                const int extent = channel ? in.c : in.w;
                auto ref = [&](int i) -> float& {
                    return channel ? expected.at(n, i, o / in.w, o % in.w)
                                   : expected.at(n, o / in.h, o % in.h, i);
                };
                double top = -1e30, sum = 0.0;
                for (int i = 0; i < extent; ++i)
                    top = std::max(top, double(ref(i)));
                for (int i = 0; i < extent; ++i)
                    sum += std::exp(double(ref(i)) - top);
                std::vector<float> soft(extent);
                for (int i = 0; i < extent; ++i)
                    soft[i] = float(std::exp(double(ref(i)) - top) / sum);
                for (int i = 0; i < extent; ++i)
                    ref(i) = soft[i];
            }
        const auto out = runFloat(*engine, {in.v});
        ASSERT_EQ(out.size(), 1U);
        EXPECT_LE(maxDifference(out[0], expected.v), 1e-6F) << "axes " << axes;
    }
}

TEST(ResizeReference, NearestScalesAndFixedSize_PickFloorOfOutOverScale) {
    Tensor4 in = randomTensor(1, 2, 3, 5, 9);
    const float scales[] = {1.0F, 1.0F, 1.5F, 0.5F};
    NetworkHarness h;
    auto* resize = h.net().addResize(*h.input("in", in.dims()));
    resize->setResizeMode(nvinfer1::InterpolationMode::kNEAREST);
    resize->setScales(scales, 4);
    h.output(resize->getOutput(0), "out");
    auto* fixed = h.net().addResize(*h.net().getInput(0));
    fixed->setOutputDimensions(Dims4(1, 2, 6, 10));
    h.output(fixed->getOutput(0), "fixed");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    Tensor4 scaled(1, 2, 4, 2), doubled(1, 2, 6, 10);
    for (int c = 0; c < 2; ++c) {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 2; ++x)
                scaled.at(0, c, y, x) = in.at(0, c, int(std::floor(y / 1.5)), 2 * x);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x)
                doubled.at(0, c, y, x) = in.at(0, c, y / 2, x / 2);
    }
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 2U);
    EXPECT_EQ(out[0], scaled.v);
    EXPECT_EQ(out[1], doubled.v);
}

TEST(ShuffleReference, TransposeThenReshape_MovesEveryElement) {
    Tensor4 in = randomTensor(1, 2, 3, 5, 10);
    NetworkHarness h;
    auto* shuffle = h.net().addShuffle(*h.input("in", in.dims()));
    nvinfer1::Permutation perm{};
    const int order[] = {0, 2, 3, 1};
    std::copy(order, order + 4, perm.order);
    shuffle->setFirstTranspose(perm);
    shuffle->setReshapeDimensions(nvinfer1::Dims3(0, -1, 2));
    h.output(shuffle->getOutput(0), "out");
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const nvinfer1::Dims out_dims = engine->getBindingDimensions(1);
    ASSERT_EQ(out_dims.nbDims, 3);
    EXPECT_EQ(out_dims.d[1], 15);
    std::vector<float> expected;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 2; ++c)
                expected.push_back(in.at(0, c, y, x));
    const auto out = runFloat(*engine, {in.v});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0], expected);
}

}  // namespace
}  // namespace trt_test
