// Engines from build to run: binding queries, blobs that must be refused, networks that must
// not build, the algorithm selector, the profiler, error reporting and stream ordering.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/tensorrt/src/blob_codec.h"
#include "tests/platform/tensorrt/network_harness.h"

namespace trt_test {
namespace {

using nvinfer1::Dims4;
using nvinfer1::DimsHW;

// in (1x3x6x5) -> conv 3->4 3x3 pad 1 + ReLU -> max pool 2x2 -> out; conv output also "side".
void smallNetwork(NetworkHarness& h, bool side_output) {
    auto* conv = h.net().addConvolutionNd(*h.input("in", Dims4(1, 3, 6, 5)), 4, DimsHW(3, 3),
                                          h.weights(randomValues(4 * 3 * 9, 50)),
                                          h.weights(randomValues(4, 51)));
    conv->setPaddingNd(DimsHW(1, 1));
    conv->setName("conv");
    auto* relu = h.net().addActivation(*conv->getOutput(0), nvinfer1::ActivationType::kRELU);
    relu->setName("relu");
    auto* pool =
        h.net().addPoolingNd(*relu->getOutput(0), nvinfer1::PoolingType::kMAX, DimsHW(2, 2));
    pool->setName("pool");
    h.output(pool->getOutput(0), "out");
    if (side_output) {
        h.output(conv->getOutput(0), "side");
    }
}

class RecordingProfiler : public nvinfer1::IProfiler {
public:
    void reportLayerTime(const char* layerName, float ms) noexcept override {
        names.emplace_back(layerName);
        times.push_back(ms);
    }
    std::vector<std::string> names;
    std::vector<float> times;
};

class RecordingErrors : public nvinfer1::IErrorRecorder {
public:
    int32_t getNbErrors() const noexcept override { return static_cast<int32_t>(errors.size()); }
    nvinfer1::ErrorCode getErrorCode(int32_t i) const noexcept override { return errors[i].first; }
    ErrorDesc getErrorDesc(int32_t i) const noexcept override { return errors[i].second.c_str(); }
    bool hasOverflowed() const noexcept override { return false; }
    void clear() noexcept override { errors.clear(); }
    bool reportError(nvinfer1::ErrorCode code, ErrorDesc desc) noexcept override {
        errors.emplace_back(code, desc);
        return true;
    }
    RefCount incRefCount() noexcept override { return ++refs; }
    RefCount decRefCount() noexcept override { return --refs; }
    std::vector<std::pair<nvinfer1::ErrorCode, std::string>> errors;
    RefCount refs{0};
};

class CountingSelector : public nvinfer1::IAlgorithmSelector {
public:
    int32_t selectAlgorithms(const nvinfer1::IAlgorithmContext& context,
                             const nvinfer1::IAlgorithm* const*, int32_t nbChoices,
                             int32_t* selection) noexcept override {
        layers.emplace_back(context.getName());
        for (int32_t i = 0; i < nbChoices; ++i)
            selection[i] = answer_offset + i;
        return nbChoices;
    }
    void reportAlgorithms(const nvinfer1::IAlgorithmContext* const*,
                          const nvinfer1::IAlgorithm* const*,
                          int32_t nbAlgorithms) noexcept override {
        reported += nbAlgorithms;
    }
    std::vector<std::string> layers;
    int32_t reported{0};
    int32_t answer_offset{0};
};

TEST(EngineBindings, InputsThenOutputs_WithLinearLayoutQueries) {
    NetworkHarness h;
    smallNetwork(h, true);
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    ASSERT_EQ(engine->getNbBindings(), 3);
    EXPECT_STREQ(engine->getBindingName(0), "in");
    EXPECT_STREQ(engine->getBindingName(1), "out");
    EXPECT_STREQ(engine->getBindingName(2), "side");
    EXPECT_EQ(engine->getBindingIndex("side"), 2);
    EXPECT_EQ(engine->getBindingIndex("nope"), -1);
    EXPECT_TRUE(engine->bindingIsInput(0));
    EXPECT_FALSE(engine->bindingIsInput(1));
    const nvinfer1::Dims out = engine->getBindingDimensions(1);
    EXPECT_EQ(out.nbDims, 4);
    EXPECT_EQ(out.d[1], 4);
    EXPECT_EQ(out.d[2], 3);
    EXPECT_EQ(out.d[3], 2);
    EXPECT_EQ(engine->getBindingDimensions(3).nbDims, -1);
    EXPECT_EQ(engine->getBindingVectorizedDim(1), -1);
    EXPECT_EQ(engine->getBindingComponentsPerElement(1), 1);
    EXPECT_EQ(engine->getBindingDataType(0), nvinfer1::DataType::kFLOAT);
    EXPECT_EQ(engine->getMaxBatchSize(), 1);
    Owned<nvinfer1::IHostMemory> again(engine->serialize());
    Owned<nvinfer1::IHostMemory> original = h.serialize();
    ASSERT_TRUE(again && original);
    ASSERT_EQ(again->size(), original->size());
    EXPECT_EQ(std::memcmp(again->data(), original->data(), again->size()), 0);
}

TEST(EngineBlob, TruncatedCorruptOrForeign_GivesNullAndALoggerMessage) {
    NetworkHarness h;
    smallNetwork(h, false);
    Owned<nvinfer1::IHostMemory> blob = h.serialize();
    ASSERT_TRUE(blob);
    const auto* bytes = static_cast<const uint8_t*>(blob->data());
    const std::vector<uint8_t> good(bytes, bytes + blob->size());
    std::vector<std::vector<uint8_t>> bad;
    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{31}, std::size_t{32},
                            good.size() / 2, good.size() - 1}) {
        bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    }
    for (std::size_t at :
         {std::size_t{0}, std::size_t{4}, std::size_t{9}, std::size_t{40}, good.size() - 5}) {
        bad.push_back(good);
        bad.back()[at] ^= 0x5a;
    }
    bad.push_back(good);
    bad.back().push_back(0);
    const std::string foreign = "ftrt plan file from another runtime, nothing like ours";
    bad.emplace_back(foreign.begin(), foreign.end());
    Owned<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(h.logger()));
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const int before = h.logger().errors();
        EXPECT_EQ(runtime->deserializeCudaEngine(bad[i].data(), bad[i].size()), nullptr)
            << "case " << i;
        EXPECT_EQ(h.logger().errors(), before + 1) << "case " << i;
    }
    EXPECT_EQ(runtime->deserializeCudaEngine(nullptr, 100), nullptr);
    Owned<nvinfer1::ICudaEngine> engine(runtime->deserializeCudaEngine(good.data(), good.size()));
    EXPECT_TRUE(engine);
}

TEST(EngineBlob, MutatedPayloadsWithValidChecksum_AreRefusedOrCheckedWithoutCrashing) {
    NetworkHarness h;
    smallNetwork(h, true);
    Owned<nvinfer1::IHostMemory> blob = h.serialize();
    ASSERT_TRUE(blob);
    const auto* bytes = static_cast<const uint8_t*>(blob->data());
    const std::vector<uint8_t> good(bytes, bytes + blob->size());
    const std::size_t header = trt_host::BlobCodec::kHeaderBytes;
    std::mt19937 generator(77);
    std::uniform_int_distribution<std::size_t> position(header, good.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    RecordingLogger quiet;
    Owned<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(quiet));
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> mutated = good;
        for (int k = 0; k <= round % 3; ++k) {
            mutated[position(generator)] = static_cast<uint8_t>(value(generator));
        }
        const uint64_t sum =
            trt_host::BlobCodec::checksum(mutated.data() + header, mutated.size() - header);
        for (int i = 0; i < 8; ++i)
            mutated[16 + i] = static_cast<uint8_t>(sum >> (8 * i));
        Owned<nvinfer1::ICudaEngine> engine(
            runtime->deserializeCudaEngine(mutated.data(), mutated.size()));
        refused += engine ? 0 : 1;
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(quiet.errors(), refused);
}

TEST(EngineBlob, ValidChecksumOverInconsistentNetwork_IsRefused) {
    trt_host::Graph graph;
    graph.tensors.resize(2);
    graph.tensors[0].name = "in";
    graph.tensors[0].dims = Dims4(1, 3, 4, 4);
    graph.tensors[1].name = "out";
    graph.inputs = {0};
    graph.outputs = {1};
    trt_host::GraphOp conv;
    conv.name = "conv";
    conv.inputs = {0};
    conv.outputs = {1};
    conv.out_maps = 2;
    conv.kernel = DimsHW(3, 3);
    conv.weights.assign(5, 1.0F);  // 54 needed: a reader trusting the blob would read past them
    graph.ops.push_back(conv);
    const std::vector<uint8_t> blob = trt_host::BlobCodec::encode(graph);
    RecordingLogger logger;
    Owned<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
    EXPECT_EQ(runtime->deserializeCudaEngine(blob.data(), blob.size()), nullptr);
    EXPECT_NE(logger.text().find("weights"), std::string::npos) << logger.text();
}

TEST(NetworkBuild, InconsistentNetworks_FailWithAMessageNamingTheLayer) {
    using Make = void (*)(NetworkHarness&);
    const std::vector<std::pair<const char*, Make>> cases = {
        {"groups",
         [](NetworkHarness& h) {
             auto* c = h.net().addConvolutionNd(*h.input("in", Dims4(1, 3, 5, 5)), 4, DimsHW(1, 1),
                                                h.weights(std::vector<float>(6, 1.0F)),
                                                nvinfer1::Weights{});
             c->setNbGroups(2);
             c->setName("groups");
             h.output(c->getOutput(0), "out");
         }},
        {"weights",
         [](NetworkHarness& h) {
             auto* c = h.net().addConvolutionNd(*h.input("in", Dims4(1, 3, 5, 5)), 4, DimsHW(3, 3),
                                                nvinfer1::Weights{}, nvinfer1::Weights{});
             c->setName("weights");
             h.output(c->getOutput(0), "out");
         }},
        {"concat",
         [](NetworkHarness& h) {
             nvinfer1::ITensor* parts[] = {h.input("a", Dims4(1, 2, 5, 5)),
                                           h.input("b", Dims4(1, 2, 5, 6))};
             auto* c = h.net().addConcatenation(parts, 2);
             c->setName("concat");
             h.output(c->getOutput(0), "out");
         }},
        {"window",
         [](NetworkHarness& h) {
             auto* p = h.net().addPoolingNd(*h.input("in", Dims4(1, 2, 3, 3)),
                                            nvinfer1::PoolingType::kMAX, DimsHW(5, 5));
             p->setName("window");
             h.output(p->getOutput(0), "out");
         }},
        {"broadcast",
         [](NetworkHarness& h) {
             auto* e = h.net().addElementWise(*h.input("a", Dims4(1, 1, 1, 1)),
                                              *h.input("b", Dims4(1, 2, 3, 3)),
                                              nvinfer1::ElementWiseOperation::kSUB);
             e->setName("broadcast");
             h.output(e->getOutput(0), "out");
         }},
        {"outputs", [](NetworkHarness& h) { h.input("in", Dims4(1, 1, 1, 1)); }},
    };
    for (const auto& c : cases) {
        NetworkHarness h;
        c.second(h);
        EXPECT_FALSE(h.serialize()) << c.first;
        EXPECT_NE(h.logger().text().find(c.first), std::string::npos) << h.logger().text();
    }
}

TEST(NetworkBuild, LayerOutputShapes_AreKnownWhileBuilding) {
    NetworkHarness h;
    smallNetwork(h, false);
    const nvinfer1::Dims pooled = h.net().getOutput(0)->getDimensions();
    EXPECT_EQ(pooled.nbDims, 4);
    EXPECT_EQ(pooled.d[2], 3);
    nvinfer1::ITensor* parts[] = {h.net().getInput(0), h.net().getOutput(0)};
    EXPECT_EQ(h.net().addConcatenation(parts, 2)->getOutput(0)->getDimensions().nbDims, -1);
}

TEST(AlgorithmSelector, ConsultedOncePerLayer_AndAnInvalidAnswerFailsTheBuild) {
    NetworkHarness h;
    smallNetwork(h, false);
    CountingSelector selector;
    h.config().setAlgorithmSelector(&selector);
    ASSERT_TRUE(h.serialize()) << h.logger().text();
    EXPECT_EQ(selector.layers, (std::vector<std::string>{"conv", "relu", "pool"}));
    EXPECT_EQ(selector.reported, 3);
    selector.answer_offset = 7;
    EXPECT_FALSE(h.serialize());
    EXPECT_NE(h.logger().text().find("selector"), std::string::npos);
}

TEST(Profiler, OneReportPerEngineLayerPerRun_InLayerOrder) {
    NetworkHarness h;
    smallNetwork(h, false);
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    EXPECT_EQ(engine->getNbLayers(), 2);
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    ASSERT_TRUE(context);
    RecordingProfiler profiler;
    context->setProfiler(&profiler);
    DeviceBuffer in(90 * sizeof(float)), out(24 * sizeof(float));
    const std::vector<float> values = randomValues(90, 52);
    in.upload(values.data(), in.bytes());
    void* bindings[] = {in.data(), out.data()};
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
    ASSERT_TRUE(context->enqueue(1, bindings, stream, nullptr));
    ASSERT_TRUE(context->enqueue(1, bindings, stream, nullptr));
    ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
    EXPECT_EQ(profiler.names,
              (std::vector<std::string>{"conv + relu", "pool", "conv + relu", "pool"}));
    for (float ms : profiler.times)
        EXPECT_GE(ms, 0.0F);
    cudaStreamDestroy(stream);
}

TEST(Enqueue, WorkIsOrderedOnTheStream) {
    NetworkHarness h;
    smallNetwork(h, false);
    auto engine = h.engine();
    ASSERT_TRUE(engine) << h.logger().text();
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    const std::vector<float> host = randomValues(90, 53);
    const std::vector<float> expected = runFloat(*engine, {host}).at(0);
    void* in = nullptr;
    void* out = nullptr;
    ASSERT_EQ(cudaMalloc(&in, host.size() * 4), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&out, expected.size() * 4), cudaSuccess);
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
    std::vector<float> result(expected.size(), -1.0F);
    void* bindings[] = {in, out};
    ASSERT_EQ(cudaMemcpyAsync(in, host.data(), host.size() * 4, cudaMemcpyHostToDevice, stream),
              cudaSuccess);
    ASSERT_TRUE(context->enqueue(1, bindings, stream, nullptr));
    ASSERT_EQ(
        cudaMemcpyAsync(result.data(), out, result.size() * 4, cudaMemcpyDeviceToHost, stream),
        cudaSuccess);
    ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
    EXPECT_EQ(result, expected);
    cudaStreamDestroy(stream);
    cudaFree(in);
    cudaFree(out);
}

TEST(Enqueue, BadArguments_GoToTheErrorRecorderAndQueueNothing) {
    NetworkHarness h;
    smallNetwork(h, false);
    auto engine = h.engine();
    ASSERT_TRUE(engine);
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    RecordingErrors errors;
    context->setErrorRecorder(&errors);
    EXPECT_EQ(errors.refs, 1);
    DeviceBuffer in(90 * sizeof(float)), out(24 * sizeof(float));
    void* missing[] = {in.data(), nullptr};
    void* good[] = {in.data(), out.data()};
    EXPECT_FALSE(context->enqueue(1, missing, nullptr, nullptr));
    EXPECT_FALSE(context->enqueue(0, good, nullptr, nullptr));
    EXPECT_FALSE(context->enqueue(2, good, nullptr, nullptr));
    EXPECT_FALSE(context->enqueue(1, nullptr, nullptr, nullptr));
    ASSERT_EQ(errors.getNbErrors(), 4);
    EXPECT_EQ(errors.getErrorCode(0), nvinfer1::ErrorCode::kINVALID_ARGUMENT);
    EXPECT_EQ(h.logger().errors(), 0);
    context.reset();
    EXPECT_EQ(errors.refs, 0);
}

TEST(Runtime, ForeignMajorVersion_GivesNoRuntime) {
    RecordingLogger logger;
    EXPECT_EQ(createInferRuntime_INTERNAL(&logger, 7103), nullptr);
    EXPECT_EQ(logger.errors(), 1);
    EXPECT_EQ(createInferRuntime_INTERNAL(nullptr, NV_TENSORRT_VERSION), nullptr);
}

TEST(Runtime, ContextOutlivesItsEngineAndRuntime) {
    NetworkHarness h;
    smallNetwork(h, false);
    Owned<nvinfer1::ICudaEngine> engine(h.builder().buildEngineWithConfig(h.net(), h.config()));
    ASSERT_TRUE(engine) << h.logger().text();
    const std::vector<float> in = randomValues(90, 54);
    const std::vector<float> expected = runFloat(*engine, {in}).at(0);
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    engine.reset();
    DeviceBuffer input(in.size() * sizeof(float)), out(24 * sizeof(float));
    input.upload(in.data(), input.bytes());
    void* bindings[] = {input.data(), out.data()};
    ASSERT_TRUE(context->execute(1, bindings));
    EXPECT_EQ(out.download<float>(), expected);
}

}  // namespace
}  // namespace trt_test
