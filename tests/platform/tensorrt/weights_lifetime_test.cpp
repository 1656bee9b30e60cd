// Weights are a borrowed view until the build, as on a GPU builder: the network keeps the
// caller's pointer and the builder reads the values when it compiles the engine.
#include <gtest/gtest.h>

#include <memory>

#include "tests/platform/tensorrt/network_harness.h"
#include "tests/platform/tensorrt/reference_ops.h"

namespace trt_test {
namespace {

using nvinfer1::DimsHW;

nvinfer1::Weights view(const float* values, int64_t count) {
    nvinfer1::Weights w;
    w.type = nvinfer1::DataType::kFLOAT;
    w.values = values;
    w.count = count;
    return w;
}

TEST(WeightsLifetime, ChangedAfterAddAndBeforeBuild_TheEngineUsesTheChangedValues) {
    Tensor4 in = randomTensor(1, 3, 5, 6, 80);
    std::vector<float> kernel = randomValues(4 * 3 * 9, 81), bias = randomValues(4, 82);
    NetworkHarness h;
    auto* conv = h.net().addConvolutionNd(*h.input("in", in.dims()), 4, DimsHW(3, 3),
                                          view(kernel.data(), 108), view(bias.data(), 4));
    ASSERT_NE(conv, nullptr);
    conv->setPaddingNd(DimsHW(1, 1));
    h.output(conv->getOutput(0), "out");
    EXPECT_EQ(conv->getKernelWeights().values, kernel.data());
    EXPECT_EQ(conv->getBiasWeights().values, bias.data());
    for (float& v : kernel)
        v = -2.0F * v;
    bias[2] = 5.0F;
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    const Tensor4 expected =
        referenceConv(in, kernel, bias, {1, 3, 5, 6, 4, 3, 3, 1, 1, 1, 1, 1, 1, 1, true});
    // Changes after the build no longer matter: the engine holds its own copy.
    std::fill(kernel.begin(), kernel.end(), 0.0F);
    EXPECT_LE(maxRelativeDifference(runFloat(*engine, {in.v}).at(0), expected.v), 1e-5F);
}

TEST(WeightsLifetime, WrongTypeOrCount_IsReportedWhenAdded) {
    NetworkHarness h;
    const float values[4] = {1.0F, 2.0F, 3.0F, 4.0F};
    nvinfer1::Weights ints = view(values, 4);
    ints.type = nvinfer1::DataType::kINT32;
    auto* conv = h.net().addConvolutionNd(*h.input("in", nvinfer1::Dims4(1, 1, 2, 2)), 1,
                                          DimsHW(2, 2), ints, view(nullptr, 0));
    ASSERT_NE(conv, nullptr);
    EXPECT_GE(h.logger().errors(), 1);
    h.output(conv->getOutput(0), "out");
    EXPECT_FALSE(h.serialize());
}

#if defined(__SANITIZE_ADDRESS__)
// A builder that frees the network file's weight block before the build reads freed memory on
// a GPU machine; here AddressSanitizer stops the build at that read.
TEST(WeightsLifetimeDeathTest, FreedBeforeBuild_IsAUseAfterFree) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto build_with_freed_weights = [] {
        NetworkHarness h;
        auto kernel = std::make_unique<std::vector<float>>(randomValues(4 * 3 * 9, 83));
        auto* conv =
            h.net().addConvolutionNd(*h.input("in", nvinfer1::Dims4(1, 3, 5, 6)), 4, DimsHW(3, 3),
                                     view(kernel->data(), 108), view(nullptr, 0));
        h.output(conv->getOutput(0), "out");
        kernel.reset();
        h.serialize();
    };
    EXPECT_DEATH(build_with_freed_weights(), "heap-use-after-free");
}
#endif

}  // namespace
}  // namespace trt_test
