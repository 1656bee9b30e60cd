// Work queued on a stream runs on that stream's worker thread (or on a thread waiting for the
// stream), never on the thread that created the context, and two contexts of one engine may run
// at once on two streams. Every primitive of the plan must therefore run from any thread and
// beside its twin of the other context. Grouped INT8 convolutions and deconvolutions need oneDNN
// scratch memory (on AVX2 CPUs, and so in the avx2.-prefixed runs, these tests crashed while
// primitives took it from the creating thread).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "tests/platform/tensorrt/network_harness.h"
#include "tests/platform/tensorrt/reference_ops.h"

namespace trt_test {
namespace {

using nvinfer1::DimsHW;

constexpr float kTolerance = 1e-4F;
constexpr int kRunsPerContext = 6;

float fakeQuantise(float x, float amax) {
    const float scale = amax / 127.0F;
    return std::round(std::min(std::max(x / scale, -128.0F), 127.0F)) * scale;
}

// in (range +-1) -> grouped conv 3x3 (stride s) + ReLU -> "conv"; then a grouped 3x3 stride-2
// deconvolution of it -> "deconv", and a 2x2 max pooling of it -> "pool".
struct GroupedNetwork {
    ConvSpec conv, deconv;
    std::vector<float> conv_k, conv_b, deconv_k, deconv_b;
    Tensor4 input;

    explicit GroupedNetwork(int stride)
        : conv{1, 32, 24, 40, 40, 3, 3, stride, stride, 1, 1, 1, 1, 2, true},
          deconv{},
          input(randomTensor(1, 32, 24, 40, 90)) {
        const int oh = (conv.h - 1) / stride + 1, ow = (conv.w - 1) / stride + 1;
        deconv = {1, 40, oh, ow, 20, 3, 3, 2, 2, 1, 1, 1, 1, 2, true};
        conv_k = randomValues(std::size_t(40) * 16 * 9, 91);
        conv_b = randomValues(40, 92);
        deconv_k = randomValues(std::size_t(40) * 10 * 9, 93);
        deconv_b = randomValues(20, 94);
    }

    Owned<nvinfer1::ICudaEngine> build(NetworkHarness& h) const {
        nvinfer1::ITensor* in = h.input("in", input.dims());
        in->setDynamicRange(-1.0F, 1.0F);
        auto* c = h.net().addConvolutionNd(*in, conv.maps, DimsHW(3, 3), h.weights(conv_k),
                                           h.weights(conv_b));
        c->setStrideNd(DimsHW(conv.sh, conv.sw));
        c->setPaddingNd(DimsHW(1, 1));
        c->setNbGroups(conv.groups);
        nvinfer1::ITensor* relu =
            h.net().addActivation(*c->getOutput(0), nvinfer1::ActivationType::kRELU)->getOutput(0);
        auto* d = h.net().addDeconvolutionNd(*relu, deconv.maps, DimsHW(3, 3), h.weights(deconv_k),
                                             h.weights(deconv_b));
        d->setStrideNd(DimsHW(2, 2));
        d->setPaddingNd(DimsHW(1, 1));
        d->setNbGroups(deconv.groups);
        auto* pool = h.net().addPoolingNd(*relu, nvinfer1::PoolingType::kMAX, DimsHW(2, 2));
        h.output(relu, "conv");
        h.output(d->getOutput(0), "deconv");
        h.output(pool->getOutput(0), "pool");
        h.config().setFlag(nvinfer1::BuilderFlag::kINT8);
        return h.engine();
    }

    // The engine stores its input on the int8 grid of its range; the rest stays float.
    std::vector<std::vector<float>> expected() const {
        Tensor4 quantised = input;
        for (float& v : quantised.v)
            v = fakeQuantise(v, 1.0F);
        Tensor4 conv_out = referenceConv(quantised, conv_k, conv_b, conv);
        referenceRelu(conv_out);
        Tensor4 deconv_out = referenceDeconv(conv_out, deconv_k, deconv_b, deconv);
        Tensor4 pooled(1, conv_out.c, conv_out.h / 2, conv_out.w / 2);
        for (int c = 0; c < pooled.c; ++c)
            for (int y = 0; y < pooled.h; ++y)
                for (int x = 0; x < pooled.w; ++x)
                    pooled.at(0, c, y, x) =
                        std::max(std::max(conv_out.at(0, c, 2 * y, 2 * x),
                                          conv_out.at(0, c, 2 * y, 2 * x + 1)),
                                 std::max(conv_out.at(0, c, 2 * y + 1, 2 * x),
                                          conv_out.at(0, c, 2 * y + 1, 2 * x + 1)));
        return {conv_out.v, deconv_out.v, pooled.v};
    }
};

// One context with its own stream and device bindings.
struct StreamRunner {
    Owned<nvinfer1::IExecutionContext> context;
    cudaStream_t stream{nullptr};
    std::vector<std::unique_ptr<DeviceBuffer>> buffers;
    std::vector<void*> bindings;

    StreamRunner(nvinfer1::ICudaEngine& engine, const std::vector<float>& input)
        : context(engine.createExecutionContext()) {
        EXPECT_EQ(cudaStreamCreate(&stream), cudaSuccess);
        for (int32_t i = 0; i < engine.getNbBindings(); ++i) {
            buffers.push_back(std::make_unique<DeviceBuffer>(
                volume(engine.getBindingDimensions(i)) * sizeof(float)));
            bindings.push_back(buffers.back()->data());
        }
        buffers[0]->upload(input.data(), input.size() * sizeof(float));
    }
    ~StreamRunner() { cudaStreamDestroy(stream); }

    bool enqueue() { return context && context->enqueueV2(bindings.data(), stream, nullptr); }
    void expectOutputs(const std::vector<std::vector<float>>& expected, const char* what) {
        ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_LE(maxDifference(buffers[i + 1]->download<float>(), expected[i]), kTolerance)
                << what << ", output " << i;
        }
    }
};

class GroupedInt8OnStreams : public ::testing::TestWithParam<int> {};

TEST_P(GroupedInt8OnStreams, RepeatedRunsOnTheStreamThread_MatchPlainLoops) {
    const GroupedNetwork network(GetParam());
    NetworkHarness h;
    auto engine = network.build(h);
    ASSERT_TRUE(engine) << h.logger().text();
    const auto expected = network.expected();
    StreamRunner runner(*engine, network.input.v);
    for (int run = 0; run < kRunsPerContext; ++run) {
        ASSERT_TRUE(runner.enqueue()) << h.logger().text();
        runner.expectOutputs(expected, "one context");
    }
}

TEST_P(GroupedInt8OnStreams, TwoContextsOfOneEngineAtOnce_BothMatchPlainLoops) {
    const GroupedNetwork network(GetParam());
    NetworkHarness h;
    auto engine = network.build(h);
    ASSERT_TRUE(engine) << h.logger().text();
    const auto expected = network.expected();
    StreamRunner first(*engine, network.input.v);
    StreamRunner second(*engine, network.input.v);
    for (int run = 0; run < kRunsPerContext; ++run) {
        ASSERT_TRUE(first.enqueue()) << h.logger().text();
        ASSERT_TRUE(second.enqueue()) << h.logger().text();
    }
    first.expectOutputs(expected, "first context");
    second.expectOutputs(expected, "second context");
    EXPECT_EQ(h.logger().errors(), 0) << h.logger().text();
}

INSTANTIATE_TEST_SUITE_P(Strides, GroupedInt8OnStreams, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Stride" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace trt_test
