// The engine inspector names the CPU kernels of every layer. On the denoiser's layer kinds none
// may be one of oneDNN's reference kernels (tens of times slower), on this CPU and, through the
// avx2.-prefixed copies of these tests, with oneDNN held to AVX2.
#include <gtest/gtest.h>

#include <string>

#include "tests/platform/tensorrt/network_harness.h"

namespace trt_test {
namespace {

using nvinfer1::Dims4;
using nvinfer1::DimsHW;
using nvinfer1::LayerInformationFormat;

nvinfer1::ITensor* relu(NetworkHarness& h, nvinfer1::ILayer* layer) {
    return h.net()
        .addActivation(*layer->getOutput(0), nvinfer1::ActivationType::kRELU)
        ->getOutput(0);
}

nvinfer1::ITensor* conv(NetworkHarness& h, nvinfer1::ITensor& in, int in_maps, int maps, int k,
                        int stride, uint32_t seed) {
    auto* layer = h.net().addConvolutionNd(
        in, maps, DimsHW(k, k), h.weights(randomValues(std::size_t(maps) * in_maps * k * k, seed)),
        h.weights(randomValues(maps, seed + 1)));
    layer->setStrideNd(DimsHW(stride, stride));
    layer->setPaddingNd(DimsHW(k / 2, k / 2));
    layer->setName(("conv" + std::to_string(seed)).c_str());
    return relu(h, layer);
}

// The bench network's layer kinds at a small size: convolutions, a stride-2 convolution, a 2x2
// stride-2 deconvolution, a channel concatenation and a 1x1 convolution.
Owned<nvinfer1::ICudaEngine> denoiserShaped(NetworkHarness& h) {
    nvinfer1::ITensor* t1 = conv(h, *h.input("in", Dims4(1, 4, 16, 40)), 4, 16, 3, 1, 10);
    nvinfer1::ITensor* t3 = conv(h, *conv(h, *t1, 16, 32, 3, 2, 20), 32, 32, 3, 1, 30);
    auto* up =
        h.net().addDeconvolutionNd(*t3, 16, DimsHW(2, 2), h.weights(randomValues(32 * 16 * 4, 40)),
                                   h.weights(randomValues(16, 41)));
    up->setStrideNd(DimsHW(2, 2));
    up->setName("up");
    nvinfer1::ITensor* parts[] = {relu(h, up), t1};
    nvinfer1::ITensor* cat = h.net().addConcatenation(parts, 2)->getOutput(0);
    h.output(conv(h, *conv(h, *cat, 32, 16, 3, 1, 50), 16, 1, 1, 1, 60), "out");
    return h.engine();
}

TEST(EngineInspector, DenoiserLayers_RunOnOptimisedKernelsOnly) {
    NetworkHarness h;
    auto engine = denoiserShaped(h);
    ASSERT_TRUE(engine) << h.logger().text();
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    Owned<nvinfer1::IEngineInspector> inspector(engine->createEngineInspector());
    ASSERT_TRUE(context && inspector);
    ASSERT_TRUE(inspector->setExecutionContext(context.get()));
    for (int32_t i = 0; i < engine->getNbLayers(); ++i) {
        const std::string json = inspector->getLayerInformation(i, LayerInformationFormat::kJSON);
        EXPECT_NE(json.find("\"TacticName\": \""), std::string::npos) << json;
        EXPECT_EQ(json.find("ref:"), std::string::npos) << json;
    }
    const std::string up = inspector->getLayerInformation(3, LayerInformationFormat::kONELINE);
    EXPECT_EQ(up.rfind("up + ", 0), 0U) << up;  // the fused activation is part of its name
    EXPECT_NE(up.find("convolution "), std::string::npos) << up;
    const std::string all = inspector->getEngineInformation(LayerInformationFormat::kJSON);
    EXPECT_EQ(all.find("ref:"), std::string::npos) << all;
    EXPECT_NE(all.find("\"Bindings\": [\"in\", \"out\"]"), std::string::npos) << all;
}

TEST(EngineInspector, WithoutContext_NamesOnly_AndBadQueriesAreRefused) {
    NetworkHarness h;
    auto engine = denoiserShaped(h);
    ASSERT_TRUE(engine) << h.logger().text();
    Owned<nvinfer1::IEngineInspector> inspector(engine->createEngineInspector());
    ASSERT_TRUE(inspector);
    EXPECT_EQ(std::string(inspector->getLayerInformation(0, LayerInformationFormat::kJSON)),
              "{\"Name\": \"conv10 + (Unnamed Layer* 1) [Activation]\"}");
    const int errors = h.logger().errors();
    EXPECT_EQ(inspector->getLayerInformation(engine->getNbLayers(), LayerInformationFormat::kJSON),
              nullptr);
    EXPECT_EQ(h.logger().errors(), errors + 1);

    NetworkHarness other_h;
    auto other = denoiserShaped(other_h);
    ASSERT_TRUE(other);
    Owned<nvinfer1::IExecutionContext> foreign(other->createExecutionContext());
    EXPECT_FALSE(inspector->setExecutionContext(foreign.get()));
    EXPECT_EQ(inspector->getExecutionContext(), nullptr);
}

}  // namespace
}  // namespace trt_test
