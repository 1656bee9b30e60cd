// TRTBuilder on its own: small descriptions of both container generations, built into the
// TensorRT stand-in's network definition and inspected layer by layer.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "NvInfer.h"
#include "module/common/parameter.h"
#include "module/common/util.h"
#include "module/network/nvidia/trt_builder.h"
#include "tests/module/network/container_files.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {
namespace {

using nlohmann::json;
using nvinfer1::DataType;
using nvinfer1::LayerType;

std::string floatBytes(const std::vector<float>& values) {
    std::string bytes(values.size() * sizeof(float), '\0');
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// A network file of the given generation holding description and weights.
std::string networkFile(const std::string& version, const json& description,
                        const std::vector<float>& weights) {
    const std::string text = description.dump();
    const std::string weightBytes = floatBytes(weights);
    if (version == "v0.0.4") {
        const json header = {
            {"vorx_version", version},
            {"tensorRT_net",
             {{"structure_length", text.size()}, {"weight_length", weightBytes.size()}}},
            {"engine", json::array()}};
        return containerBytes(header.dump(), {stringEncrypt(text), weightBytes});
    }
    const std::string scales = "{}";
    const json header = {{"vorx_version", version},
                         {"trt_model",
                          {{"config_length", text.size()},
                           {"weight_length", weightBytes.size()},
                           {"scale_length", scales.size()}}}};
    return containerBytes(header.dump(), {stringEncrypt(text), weightBytes, stringEncrypt(scales)});
}

json inputLayer(const std::string& name, const std::string& torch, std::vector<int> shape,
                bool v0_0_4) {
    return {{"name", name},
            {"type", "input_tensor"},
            {"pre_nodes", json::array()},
            {v0_0_4 ? "output_shape" : "shape", shape},
            {"torch_name", torch},
            {"amax", 4.0}};
}

json outputLayer(const std::string& name, const std::string& from, const std::string& torch) {
    return {
        {"name", name}, {"type", "output_tensor"}, {"pre_nodes", {from}}, {"torch_name", torch}};
}

class BuilderFixture : public ::testing::Test {
protected:
    ModelParameter parameters(const std::string& dataType, int batch,
                              const json& engineExtra = json::object()) {
        json engine = {{"type", "NvGPUEngine"}, {"batch_size", batch}, {"data_type", dataType}};
        engine.update(engineExtra);
        const json document = {{"batch_size", batch},
                               {"runner", "QuantedRimgRunner"},
                               {"net_path", dir_.file("model.net")},
                               {"engine_path", dir_.file("model.engine")},
                               {"data_type", dataType},
                               {"input", json::array()},
                               {"engine", {{"rimg", engine}, {"post", engine}}}};
        return ModelParameter(document);
    }

    // Builds from a network file; the builder keeps the last network for inspection.
    bool buildFile(TRTBuilder& builder, const std::string& version, const json& description,
                   const std::vector<float>& weights, std::string* log = nullptr) {
        writeAll(dir_.file("model.net"), networkFile(version, description, weights));
        bool built = false;
        const std::string out = captureStdout([&] { built = builder.build(); });
        if (log != nullptr) {
            *log = out;
        }
        return built;
    }

    // Fills a fresh network straight from one network's description (no weights needed).
    std::string fill(TRTBuilder& builder, const ModelParameter& model, const json& network,
                     bool v0_0_4) {
        EXPECT_TRUE(builder.init(model.engine("rimg")));
        const uint8_t* cursor = nullptr;
        return captureStdout([&] {
            EXPECT_TRUE(v0_0_4 ? builder.buildANetworkV0_0_4(network, cursor)
                               : builder.buildANetworkV0_0_2(network, cursor));
        });
    }

    static nvinfer1::ILayer* layerNamed(nvinfer1::INetworkDefinition& network,
                                        const std::string& name) {
        for (int32_t i = 0; i < network.getNbLayers(); ++i) {
            if (name == network.getLayer(i)->getName()) {
                return network.getLayer(i);
            }
        }
        ADD_FAILURE() << "no layer " << name;
        return nullptr;
    }

    TempDir dir_;
};

json convLayer(const std::string& name, const std::string& from, int out, int weights, bool bias,
               const std::string& activation, bool v0_0_4) {
    return {{"name", name},
            {"type", "convolutional"},
            {"pre_nodes", {from}},
            {"weight_length", weights * 4},
            {"bias", bias ? 1 : 0},
            {"bias_length", bias ? out * 4 : 0},
            {"activation", activation},
            {"amax", 8.0},
            {"groups", 1},
            {"out_channels", out},
            {v0_0_4 ? "padding" : "pad", json::array({1, 0})},
            {"dilation", 1},
            {"stride", json::array({2, 1})},
            {"kernel_size", json::array({3, 1})}};
}

TEST_F(BuilderFixture, V0_0_4_ConvolutionWithActivation_SettingsWeightsRangesAndInt8Precision) {
    TRTBuilder builder(parameters("int8", 2));
    // 2 input channels, 3 maps, 3x1 kernel: 18 kernel values, then 3 bias values.
    std::vector<float> weights;
    for (int i = 0; i < 21; ++i) {
        weights.push_back(0.5F * static_cast<float>(i));
    }
    const json description = json::array(
        {{{"name", "rimg"},
          {"layers",
           {inputLayer("in", "rimg_input_features", {1, 2, 8, 4}, true),
            convLayer("c", "in", 3, 18, true, "relu", true), outputLayer("out", "c", "pred")}}}});
    ASSERT_TRUE(buildFile(builder, "v0.0.4", description, weights));
    nvinfer1::INetworkDefinition& network = *builder.network();

    auto* conv = dynamic_cast<nvinfer1::IConvolutionLayer*>(layerNamed(network, "c.conv"));
    ASSERT_NE(conv, nullptr);
    EXPECT_EQ(conv->getNbOutputMaps(), 3);
    EXPECT_EQ(conv->getKernelSizeNd().d[0], 3);
    EXPECT_EQ(conv->getKernelSizeNd().d[1], 1);
    EXPECT_EQ(conv->getStrideNd().d[0], 2);
    EXPECT_EQ(conv->getStrideNd().d[1], 1);
    EXPECT_EQ(conv->getPaddingNd().d[0], 1);
    EXPECT_EQ(conv->getPaddingNd().d[1], 0);
    EXPECT_EQ(conv->getDilationNd().d[0], 1);
    const nvinfer1::Weights kernel = conv->getKernelWeights();
    const nvinfer1::Weights bias = conv->getBiasWeights();
    ASSERT_EQ(kernel.count, 18);
    ASSERT_EQ(bias.count, 3);
    EXPECT_EQ(static_cast<const float*>(kernel.values)[17], weights[17]);
    EXPECT_EQ(static_cast<const float*>(bias.values)[0], weights[18]);
    // The bias follows the kernel in the same block: no copy of the weights was made.
    EXPECT_EQ(static_cast<const float*>(kernel.values) + 18, bias.values);
    EXPECT_STREQ(conv->getOutput(0)->getName(), "c.conv.output");
    EXPECT_EQ(conv->getOutput(0)->getDynamicRangeMax(), 8.0F);
    EXPECT_EQ(conv->getOutput(0)->getDynamicRangeMin(), -8.0F);

    nvinfer1::ILayer* relu = layerNamed(network, "c.relu");
    ASSERT_NE(relu, nullptr);
    EXPECT_EQ(relu->getType(), LayerType::kACTIVATION);
    EXPECT_EQ(relu->getInput(0), conv->getOutput(0));
    // The activation's output is the one registered, so it is what the output layer marks.
    ASSERT_EQ(network.getNbOutputs(), 1);
    EXPECT_EQ(network.getOutput(0), relu->getOutput(0));
    EXPECT_STREQ(network.getOutput(0)->getName(), "pred");
    EXPECT_EQ(relu->getOutput(0)->getDynamicRangeMax(), 8.0F);
    EXPECT_EQ(conv->getPrecision(), DataType::kINT8);
    EXPECT_EQ(relu->getOutputType(0), DataType::kINT8);

    ASSERT_EQ(network.getNbInputs(), 1);
    nvinfer1::ITensor* input = network.getInput(0);
    EXPECT_STREQ(input->getName(), "rimg_input_features");
    EXPECT_EQ(input->getDimensions().d[0], 2);  // the engine's batch size replaces shape[0]
    EXPECT_EQ(input->getDimensions().d[1], 2);
    EXPECT_EQ(input->getDynamicRangeMax(), 4.0F);
    const auto linear = 1U << static_cast<uint32_t>(nvinfer1::TensorFormat::kLINEAR);
    EXPECT_EQ(input->getAllowedFormats(), linear);
    EXPECT_EQ(network.getOutput(0)->getAllowedFormats(), linear);
    EXPECT_EQ(input->getType(), DataType::kINT8);
    EXPECT_EQ(network.getOutput(0)->getType(), DataType::kINT8);
    EXPECT_TRUE(builder.config()->getFlag(nvinfer1::BuilderFlag::kINT8));
    EXPECT_NE(builder.config()->getAlgorithmSelector(), nullptr);
}

TEST_F(BuilderFixture, TwoNetworks_TakeConsecutiveStretchesOfTheWeightBlock) {
    TRTBuilder builder(parameters("int8", 1));
    auto network = [](const std::string& name) {
        return json{{"name", name},
                    {"layers",
                     {inputLayer("in", name + "_in", {1, 1, 4, 4}, true),
                      convLayer("c", "in", 1, 3, false, "", true),
                      outputLayer("out", "c", name + "_out")}}};
    };
    const std::vector<float> weights = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(
        buildFile(builder, "v0.0.4", json::array({network("rimg"), network("post")}), weights));
    auto* conv =
        dynamic_cast<nvinfer1::IConvolutionLayer*>(layerNamed(*builder.network(), "c.conv"));
    ASSERT_NE(conv, nullptr);
    const auto* kernel = static_cast<const float*>(conv->getKernelWeights().values);
    EXPECT_EQ(kernel[0], 4.0F);
    EXPECT_EQ(kernel[2], 6.0F);
    EXPECT_EQ(conv->getBiasWeights().count, 0);
    // No activation asked for: the convolution itself is the network's output.
    EXPECT_EQ(builder.network()->getOutput(0), conv->getOutput(0));
    EXPECT_TRUE(std::ifstream(dir_.file("model.engine")).good());
}

TEST_F(BuilderFixture, V0_0_2_RouteUpsamplePoolPermuteAndUnmarkedOutput) {
    TRTBuilder builder(parameters("int8", 1));
    const json layers = {
        inputLayer("a", "a_in", {1, 2, 4, 6}, false),
        inputLayer("b", "b_in", {1, 2, 4, 6}, false),
        {{"name", "same"}, {"type", "route"}, {"pre_nodes", {"a"}}, {"op", nullptr}, {"amax", 1}},
        {{"name", "diff"},
         {"type", "route"},
         {"pre_nodes", {"same", "b"}},
         {"op", "sub"},
         {"amax", 2}},
        outputLayer("hidden", "diff", "None"),
        {{"name", "joined"},
         {"type", "route"},
         {"pre_nodes", {"hidden", "a"}},
         {"op", "concat"},
         {"amax", 3}},
        {{"name", "up"}, {"type", "upsample"}, {"pre_nodes", {"joined"}}, {"amax", 3}},
        {{"name", "pool"},
         {"type", "avgpool2d"},
         {"pre_nodes", {"up"}},
         {"amax", 3},
         {"pad", 1},
         {"stride", 2},
         {"size", json::array({3, 2})}},
        {{"name", "mark"}, {"type", "vorx_mark"}, {"pre_nodes", {"pool"}}},
        {{"name", "turn"}, {"type", "permute"}, {"pre_nodes", {"mark"}}, {"dim", {0, 2, 3, 1}}},
        outputLayer("out", "turn", "result")};
    const json network = {{"name", "rimg"}, {"layers", layers}};
    const std::string log = fill(builder, parameters("int8", 1), network, false);
    nvinfer1::INetworkDefinition& net = *builder.network();

    // Pass-throughs (route without op, vorx_mark) add nothing: sub, concat, resize, pool, shuffle.
    ASSERT_EQ(net.getNbLayers(), 5) << log;
    auto* diff = dynamic_cast<nvinfer1::IElementWiseLayer*>(layerNamed(net, "diff"));
    ASSERT_NE(diff, nullptr);
    EXPECT_EQ(diff->getOperation(), nvinfer1::ElementWiseOperation::kSUB);
    EXPECT_EQ(diff->getInput(0), net.getInput(0));  // "same" is "a" itself
    EXPECT_EQ(diff->getInput(1), net.getInput(1));
    EXPECT_STREQ(diff->getOutput(0)->getName(), "diff.elementwise.output");
    // "None": not a network output, but still the input of the concatenation.
    EXPECT_FALSE(diff->getOutput(0)->isNetworkOutput());
    nvinfer1::ILayer* joined = layerNamed(net, "joined");
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(joined->getType(), LayerType::kCONCATENATION);
    EXPECT_EQ(joined->getInput(0), diff->getOutput(0));
    EXPECT_EQ(joined->getOutput(0)->getDynamicRangeMax(), 3.0F);

    auto* up = dynamic_cast<nvinfer1::IResizeLayer*>(layerNamed(net, "up.upsample"));
    ASSERT_NE(up, nullptr);
    float scales[4] = {};
    ASSERT_EQ(up->getScales(4, scales), 4);
    EXPECT_EQ(scales[1], 1.0F);
    EXPECT_EQ(scales[2], 2.0F);  // no "scale_factor": doubled
    EXPECT_EQ(scales[3], 2.0F);
    EXPECT_EQ(up->getResizeMode(), nvinfer1::InterpolationMode::kNEAREST);

    auto* pool = dynamic_cast<nvinfer1::IPoolingLayer*>(layerNamed(net, "pool"));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->getPoolingType(), nvinfer1::PoolingType::kAVERAGE);
    EXPECT_EQ(pool->getWindowSizeNd().d[0], 3);
    EXPECT_EQ(pool->getWindowSizeNd().d[1], 2);
    EXPECT_EQ(pool->getStrideNd().d[1], 2);
    EXPECT_EQ(pool->getPaddingNd().d[0], 1);
    EXPECT_FALSE(pool->getAverageCountExcludesPadding());
    EXPECT_STREQ(pool->getOutput(0)->getName(), "pool.pooling.output");

    ASSERT_EQ(net.getNbOutputs(), 1);
    nvinfer1::ILayer* last = net.getLayer(net.getNbLayers() - 1);
    ASSERT_EQ(last->getType(), LayerType::kSHUFFLE);
    const nvinfer1::Permutation order =
        static_cast<nvinfer1::IShuffleLayer*>(last)->getFirstTranspose();
    EXPECT_EQ(order.order[1], 2);
    EXPECT_EQ(order.order[3], 1);
    EXPECT_EQ(last->getInput(0), pool->getOutput(0));
    EXPECT_EQ(net.getOutput(0), last->getOutput(0));
    EXPECT_STREQ(net.getOutput(0)->getName(), "result");
}

TEST_F(BuilderFixture, V0_0_4_SoftmaxActivationMulAndFloat16Engine) {
    const ModelParameter model = parameters("float16", 1);
    TRTBuilder builder(model);
    const json layers = {
        inputLayer("in", "x", {1, 3, 2, 2}, true),
        {{"name", "act"},
         {"type", "activation"},
         {"pre_nodes", {"in"}},
         {"activation_type", "clip"},
         {"amax", 5}},
        {{"name", "prod"}, {"type", "elememt_wise_mul"}, {"pre_nodes", {"act", "in"}}, {"amax", 5}},
        {{"name", "soft"}, {"type", "softmax"}, {"pre_nodes", {"prod"}}, {"dim", 1}},
        {{"name", "drop"}, {"type", "dropout"}, {"pre_nodes", {"soft"}}},
        outputLayer("out", "drop", "y")};
    fill(builder, model, {{"name", "rimg"}, {"layers", layers}}, true);
    nvinfer1::INetworkDefinition& net = *builder.network();
    ASSERT_EQ(net.getNbLayers(), 3);

    auto* act = dynamic_cast<nvinfer1::IActivationLayer*>(layerNamed(net, "act.clip"));
    ASSERT_NE(act, nullptr);
    EXPECT_EQ(act->getActivationType(), nvinfer1::ActivationType::kCLIP);
    EXPECT_STREQ(act->getOutput(0)->getName(), "act.clip.output");
    auto* prod = dynamic_cast<nvinfer1::IElementWiseLayer*>(layerNamed(net, "prod"));
    ASSERT_NE(prod, nullptr);
    EXPECT_EQ(prod->getOperation(), nvinfer1::ElementWiseOperation::kPROD);
    auto* soft = dynamic_cast<nvinfer1::ISoftMaxLayer*>(net.getLayer(2));
    ASSERT_NE(soft, nullptr);
    EXPECT_EQ(soft->getAxes(), 1U << 1);
    // Through the dropout pass-through the softmax output is the network output, renamed.
    EXPECT_EQ(net.getOutput(0), soft->getOutput(0));
    EXPECT_STREQ(net.getOutput(0)->getName(), "y");
    // No dynamic ranges outside INT8 engines; the FP16 flag is set.
    EXPECT_EQ(act->getOutput(0)->getDynamicRangeMax(), 0.0F) << "range set on a float16 engine";
    EXPECT_TRUE(builder.config()->getFlag(nvinfer1::BuilderFlag::kFP16));
    EXPECT_FALSE(builder.config()->getFlag(nvinfer1::BuilderFlag::kINT8));
}

TEST_F(BuilderFixture, ReviewInputShape_TwoValuesReplaceHeightAndWidthOtherCountsAreReported) {
    const ModelParameter model =
        parameters("int8", 4, {{"input_tensors", {{"points", {32, 2000}}, {"odd", {1, 2, 3}}}}});
    TRTBuilder builder(model);
    std::vector<int32_t> shape = {1, 64, 32, 1800};
    std::string log = captureStdout([&] { builder.reviewInputShape("points", shape); });
    EXPECT_EQ(shape, (std::vector<int32_t>{1, 64, 32, 2000}));
    EXPECT_NE(log.find("[INIT][TRTBuilder] the shape of rimg's input tensor 'points' has been "
                       "modified to [32, 2000]"),
              std::string::npos)
        << log;

    std::vector<int32_t> other = {1, 3, 5, 7};
    log = captureStdout([&] { builder.reviewInputShape("odd", other); });
    EXPECT_EQ(other, (std::vector<int32_t>{1, 3, 5, 7}));
    EXPECT_NE(log.find("[INIT][TRTBuilder] Only 2D operater is supported on Nvidia TensorRT, but "
                       "now is 3D!"),
              std::string::npos)
        << log;

    // Through a real input layer: the batch size and the reviewed extents both reach the input.
    const json network = {{"name", "rimg"},
                          {"layers", {inputLayer("in", "points", {1, 64, 32, 1800}, true)}}};
    fill(builder, model, network, true);
    const nvinfer1::Dims dims = builder.network()->getInput(0)->getDimensions();
    EXPECT_EQ(dims.d[0], 4);
    EXPECT_EQ(dims.d[1], 64);
    EXPECT_EQ(dims.d[2], 32);
    EXPECT_EQ(dims.d[3], 2000);
}

TEST_F(BuilderFixture, BadDescriptions_AreReportedSkippedOrRaised) {
    const ModelParameter model = parameters("int8", 1);
    TRTBuilder builder(model);
    const json input = inputLayer("in", "x", {1, 1, 2, 2}, true);
    // Unknown types and route ops are reported and skipped; the rest of the network is built.
    std::string log = fill(builder, model,
                           {{"name", "rimg"},
                            {"layers",
                             {input,
                              {{"name", "q"}, {"type", "warp"}, {"pre_nodes", {"in"}}},
                              outputLayer("out", "in", "y")}}},
                           true);
    EXPECT_NE(log.find("[INIT][TRTBuilderV0_0_4] Unknown layer type of warp"), std::string::npos)
        << log;
    EXPECT_EQ(builder.network()->getNbOutputs(), 1);
    log = fill(
        builder, model,
        {{"name", "rimg"},
         {"layers",
          {inputLayer("in", "x", {1, 1, 2, 2}, false),
           {{"name", "q"}, {"type", "warp"}, {"pre_nodes", {"in"}}},
           {{"name", "r"}, {"type", "route"}, {"pre_nodes", {"in"}}, {"op", "div"}, {"amax", 1}}}}},
        false);
    EXPECT_NE(log.find("[INIT][TRTBuilder] Unknown layer type of warp"), std::string::npos) << log;
    EXPECT_NE(log.find("[INIT][TRTBuilder] Unknown route layer op of div"), std::string::npos)
        << log;
    EXPECT_EQ(builder.network()->getNbLayers(), 0);

    // An unknown pre-node and a pre_nodes that is no array raise the standard errors.
    const uint8_t* cursor = nullptr;
    ASSERT_TRUE(builder.init(model.engine("rimg")));
    const json unknownNode = {{"name", "rimg"}, {"layers", {outputLayer("out", "ghost", "y")}}};
    try {
        builder.buildANetworkV0_0_4(unknownNode, cursor);
        ADD_FAILURE() << "an unknown pre-node was accepted";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "invalid unordered_map<K, T> key");
    }
    const json notArray = {
        {"name", "rimg"},
        {"layers", {{{"name", "in"}, {"type", "input_tensor"}, {"pre_nodes", "in"}}}}};
    try {
        builder.buildANetworkV0_0_4(notArray, cursor);
        ADD_FAILURE() << "a pre_nodes string was accepted";
    } catch (const nlohmann::json::type_error& error) {
        EXPECT_NE(std::string(error.what()).find("type must be array, but is string"),
                  std::string::npos)
            << error.what();
    }

    // Adders that cannot build their layer end the network with the reason.
    ASSERT_TRUE(builder.init(model.engine("rimg")));
    log = captureStdout([&] {
        EXPECT_FALSE(builder.buildANetworkV0_0_4(
            {{"name", "rimg"},
             {"layers",
              {input,
               {{"name", "p"}, {"type", "permute"}, {"pre_nodes", {"in"}}, {"dim", {0, 1, 2}}}}}},
            cursor));
    });
    EXPECT_NE(log.find("[INIT][addPermuteLayer] tensor dim must be 4, but now is 3"),
              std::string::npos)
        << log;
    ASSERT_TRUE(builder.init(model.engine("rimg")));
    log = captureStdout([&] {
        EXPECT_FALSE(builder.buildANetworkV0_0_4({{"name", "rimg"},
                                                  {"layers",
                                                   {input,
                                                    {{"name", "a"},
                                                     {"type", "activation"},
                                                     {"pre_nodes", {"in"}},
                                                     {"activation_type", "gelu"},
                                                     {"amax", 1}}}}},
                                                 cursor));
    });
    EXPECT_NE(log.find("[INIT][TRTBuilder] Unknown activation of gelu"), std::string::npos) << log;
}

TEST_F(BuilderFixture, BuildFailures_UnknownVersionAndWeightsPastTheBlockWriteNoEngine) {
    TRTBuilder builder(parameters("int8", 1));
    const json description = json::array(
        {{{"name", "rimg"},
          {"layers",
           {inputLayer("in", "x", {1, 2, 4, 4}, false), convLayer("c", "in", 1, 6, true, "", false),
            outputLayer("o", "c", "y")}}}});
    std::string log;
    EXPECT_FALSE(buildFile(builder, "0.0.9", description, std::vector<float>(7), &log));
    EXPECT_NE(log.find("[INIT][TRTBuilder] Unknown vorx deploy version of 0.0.9"),
              std::string::npos)
        << log;
    // An empty version is named as such: nothing between "of " and the reset.
    EXPECT_FALSE(buildFile(builder, "", description, std::vector<float>(7), &log));
    EXPECT_NE(log.find("] [INIT][TRTBuilder] Unknown vorx deploy version of \x1b[0m\n"),
              std::string::npos)
        << log;
    // Kernel and bias want 7 floats; the block holds 6.
    EXPECT_FALSE(buildFile(builder, "0.0.3", description, std::vector<float>(6), &log));
    EXPECT_NE(log.find("Layer c asks for 4 weight bytes, but 0 are left"), std::string::npos)
        << log;
    EXPECT_FALSE(std::ifstream(dir_.file("model.engine")).good());
    EXPECT_TRUE(buildFile(builder, "0.0.3", description, std::vector<float>(7), &log)) << log;
}

}  // namespace
}  // namespace krell::det::test
