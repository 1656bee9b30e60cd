// A runner over two small engines built by the TensorRT builder inside the test: "rimg" (a 1x1
// convolution over two channels) and "post" (a ReLU) whose input is rimg's output, registered by
// name so that both engines share one device buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "NvInfer.h"
#include "module/common/parameter.h"
#include "module/engine/cpu_buffer.h"
#include "module/engine/nvidia/nv_gpu_buffer.h"
#include "module/engine/nvidia/nv_gpu_engine.h"
#include "module/engine/nvidia/tool/hlogging.h"
#include "module/network/nvidia/network_parser.h"
#include "module/runner/runner_factory.h"
#include "tests/module/network/container_files.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

constexpr int kHeight = 4;
constexpr int kWidth = 8;
constexpr int kPixels = kHeight * kWidth;
const float kKernel[2] = {0.5F, -2.0F};
const float kBias[1] = {0.25F};

using HostMemoryPtr = std::unique_ptr<nvinfer1::IHostMemory>;

//! Builds one engine: input name [1, channels, H, W] -> layers added by addLayers -> output.
template <class AddLayers>
HostMemoryPtr buildEngine(const char* input, int channels, AddLayers addLayers) {
    Logger logger;
    std::unique_ptr<nvinfer1::IBuilder> builder(nvinfer1::createInferBuilder(logger));
    std::unique_ptr<nvinfer1::INetworkDefinition> network(builder->createNetworkV2(
        1U << static_cast<uint32_t>(nvinfer1::NetworkDefinitionCreationFlag::kEXPLICIT_BATCH)));
    nvinfer1::ITensor* x = network->addInput(input, nvinfer1::DataType::kFLOAT,
                                             nvinfer1::Dims4(1, channels, kHeight, kWidth));
    network->markOutput(*addLayers(*network, *x));
    std::unique_ptr<nvinfer1::IBuilderConfig> config(builder->createBuilderConfig());
    return HostMemoryPtr(builder->buildSerializedNetwork(*network, *config));
}

//! Network file, engine file and parameter model of the two-engine model in a scratch folder.
class TwoEngineModel {
public:
    TwoEngineModel() {
        const std::string description = R"([{"name":"rimg"},{"name":"post"}])";
        writeAll(dir_.file("net"),
                 containerBytes(R"({"vorx_version":"0.0.2","trt_model":{"config_length":)" +
                                    std::to_string(description.size()) +
                                    R"(,"weight_length":0,"scale_length":0}})",
                                {stringEncrypt(description)}));
        root_ = ParamJson::parse(R"({"batch_size": 1, "runner": "QuantedRimgRunner",
            "data_type": "float32", "net_path": ")" +
                                 dir_.file("net") + R"(",
            "engine_path": ")" + dir_.file("engine") +
                                 R"(",
            "engine": {
              "rimg": {"type": "NvGPUEngine", "data_type": "float32",
                       "output_tensors": [{"TENSOR": {"name": "noise_rimg_preds"}}]},
              "post": {"type": "NvGPUEngine", "data_type": "float32",
                       "registration": {"feat": "rimg.noise_rimg_preds"},
                       "output_tensors": [{"TENSOR": {"name": "post_out"}}]}}})");
    }

    //! Builds both engines and stores them through NetworkParser::write.
    void writeEngineFile() {
        HostMemoryPtr rimg = buildEngine("rimg_input_features", 2, [](auto& net, auto& x) {
            const nvinfer1::Weights kernel{nvinfer1::DataType::kFLOAT, kKernel, 2};
            const nvinfer1::Weights bias{nvinfer1::DataType::kFLOAT, kBias, 1};
            auto* conv = net.addConvolutionNd(x, 1, nvinfer1::DimsHW(1, 1), kernel, bias);
            conv->getOutput(0)->setName("noise_rimg_preds");
            return conv->getOutput(0);
        });
        HostMemoryPtr post = buildEngine("feat", 1, [](auto& net, auto& x) {
            auto* relu = net.addActivation(x, nvinfer1::ActivationType::kRELU);
            relu->getOutput(0)->setName("post_out");
            return relu->getOutput(0);
        });
        ASSERT_NE(rimg, nullptr);
        ASSERT_NE(post, nullptr);
        NetworkParser parser(dir_.file("net"), dir_.file("engine"));
        ASSERT_TRUE(parser.parse());
        ASSERT_TRUE(parser.write({rimg.get(), post.get()}));
    }

    ModelParameter parameter() const { return ModelParameter(root_); }
    ParamJson& root() { return root_; }

private:
    TempDir dir_;
    ParamJson root_;
};

std::vector<float> download(const std::shared_ptr<Buffer>& buffer, cudaStream_t stream) {
    std::vector<float> values(buffer->size() / sizeof(float));
    buffer->copyTo(values.data(), TransferKind::NvGPUToCPU, stream);
    cudaStreamSynchronize(stream);
    return values;
}

// What TensorRT does when an inference fails once the stream reaches it (a kernel fault): it
// reports to the context's error recorder from the thread running the stream's work, long after
// enqueueV2 returned true. The stand-in checks everything it can at enqueue time, so a test has
// to place that report on the stream itself.
void reportFailedExecution(void* recorder) {
    static_cast<KrellErrorRecorder*>(recorder)->reportError(
        nvinfer1::ErrorCode::kFAILED_EXECUTION, "an illegal memory access was encountered");
}

std::shared_ptr<Runner> initialisedRunner(const TwoEngineModel& model) {
    std::shared_ptr<Runner> runner;
    captureStdout([&] {
        runner = RunnerFactory::instance().create("QuantedRimgRunner", model.parameter());
        EXPECT_EQ(runner->init(), 0);
    });
    return runner;
}

}  // namespace

TEST(Runner, TwoEngines_ShareOneBufferGroupOutputsAndMatchAPlainLoop) {
    TwoEngineModel model;
    std::shared_ptr<Runner> runner;
    captureStdout(
        [&] { runner = RunnerFactory::instance().create("QuantedRimgRunner", model.parameter()); });
    EXPECT_FALSE(runner->checkEngineFile());
    model.writeEngineFile();
    EXPECT_TRUE(runner->checkEngineFile());
    int32_t status = -1;
    captureStdout([&] { status = runner->init(); });
    ASSERT_EQ(status, 0);

    const auto& rimg = runner->engine("rimg");
    const auto& post = runner->engine("post");
    // One allocation for both engines, and the group holds the engine's own buffer.
    EXPECT_EQ(post->getBuffer("feat").get(), rimg->getBuffer("noise_rimg_preds").get());
    EXPECT_EQ(runner->getBuffer("rimg", "noise_rimg_preds").get(),
              rimg->getBuffer("noise_rimg_preds").get());
    EXPECT_TRUE(runner->containBuffer("rimg", "noise_rimg_preds"));
    EXPECT_TRUE(runner->containBuffer("post", "post_out"));
    EXPECT_FALSE(runner->containBuffer("rimg", "post_out"));
    EXPECT_EQ(messageOf(captureStdout([&] { EXPECT_FALSE(runner->containBuffer("other", "x")); })),
              "[Runner][containBuffer] Can not find the group name other\x1b[0m\n");
    EXPECT_THROW(captureStdout([&] { runner->getBuffer("other", "x"); }), std::out_of_range);
    EXPECT_EQ(rimg->stream(), runner->stream());
    EXPECT_EQ(post->stream(), runner->stream());

    // The shapes reviewed into the engine's descriptions.
    const auto shapes = rimg->shapes();
    ASSERT_EQ(shapes.count("rimg_input_features"), 1U);
    EXPECT_EQ(shapes.at("rimg_input_features").channel, 2);
    EXPECT_EQ(shapes.at("rimg_input_features").byte_size, 2 * kPixels * 4);

    std::vector<float> input(2 * kPixels);
    for (size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<float>(static_cast<int>(i % 7) - 3) * 0.75F;
    }
    const cudaStream_t stream = runner->stream();
    rimg->getBuffer("rimg_input_features")
        ->copyFrom(input.data(), TransferKind::CPUToNvGPU, stream);
    ASSERT_EQ(runner->run(), 0);
    ASSERT_EQ(post->run(), 0);
    const std::vector<float> output = download(runner->getBuffer("post", "post_out"), stream);
    ASSERT_EQ(output.size(), static_cast<size_t>(kPixels));
    for (int p = 0; p < kPixels; ++p) {
        const float conv = kKernel[0] * input[p] + kKernel[1] * input[kPixels + p] + kBias[0];
        EXPECT_NEAR(output[p], std::max(conv, 0.0F), 1e-5F) << "pixel " << p;
    }
}

TEST(Runner, HostOrShortBufferForABinding_IsRefusedAndTheOwnBufferStaysBound) {
    TwoEngineModel model;
    model.writeEngineFile();
    std::shared_ptr<Runner> runner;
    captureStdout([&] {
        runner = RunnerFactory::instance().create("QuantedRimgRunner", model.parameter());
        ASSERT_EQ(runner->init(), 0);
    });
    const auto& post = runner->engine("post");
    const Buffer* bound = post->getBuffer("feat").get();
    auto host = std::make_shared<CPUBuffer>(kPixels * 4);
    std::string log = captureStdout([&] {
        post->setBuffer("feat", host);
        EXPECT_NE(post->prepareBindings(), 0);
    });
    EXPECT_NE(log.find("is not device memory"), std::string::npos) << log;
    EXPECT_EQ(post->getBuffer("feat").get(), bound);

    auto shortBuffer = std::make_shared<NvGPUBuffer>(kPixels);
    log = captureStdout([&] {
        post->setBuffer("feat", shortBuffer);
        EXPECT_NE(post->prepareBindings(), 0);
    });
    EXPECT_NE(log.find("is smaller than the binding"), std::string::npos) << log;
    EXPECT_EQ(post->getBuffer("feat").get(), bound);
}

TEST(Runner, MissingRimgOrEngineFile_FailsWithoutThrowing) {
    TwoEngineModel model;
    std::shared_ptr<Runner> runner;
    captureStdout(
        [&] { runner = RunnerFactory::instance().create("QuantedRimgRunner", model.parameter()); });
    std::string log = captureStdout([&] { EXPECT_NE(runner->init(), 0); });
    EXPECT_NE(log.find("Can not open engine file in"), std::string::npos) << log;
    log = captureStdout([&] { EXPECT_NE(runner->run(), 0); });
    EXPECT_NE(log.find("[Runner] Can not find engine with name rimg"), std::string::npos) << log;

    EXPECT_THROW(
        captureStdout([&] { RunnerFactory::instance().create("NoSuch", model.parameter()); }),
        std::out_of_range);
    // An engine listed in the model but absent from the engine file.
    model.writeEngineFile();
    model.root()["engine"]["extra"] = {{"type", "NvGPUEngine"}};
    captureStdout(
        [&] { runner = RunnerFactory::instance().create("QuantedRimgRunner", model.parameter()); });
    log = captureStdout([&] { EXPECT_THROW(runner->init(), std::out_of_range); });
    EXPECT_NE(log.find("can not find engine with name extra"), std::string::npos) << log;
}

TEST(Runner, InferenceFailingOnTheStream_FailsTheNextWaitOnceAndNamesTheEngine) {
    TwoEngineModel model;
    model.writeEngineFile();
    const std::shared_ptr<Runner> runner = initialisedRunner(model);
    auto& rimg = dynamic_cast<NvGPUEngine&>(*runner->engine("rimg"));
    ASSERT_EQ(runner->run(), 0);
    ASSERT_EQ(
        cudaLaunchHostFunc(runner->stream(), reportFailedExecution, rimg.errorRecorder().get()),
        cudaSuccess);
    std::string log = captureStdout([&] { EXPECT_NE(runner->synchronize(), 0); });
    EXPECT_EQ(messageOf(log),
              "[NvGPUEngine] the inference of rimg failed on the stream: error code 7, an illegal "
              "memory access was encountered\x1b[0m\n");

    // Consumed by that wait: the next frame runs clean.
    ASSERT_EQ(runner->run(), 0);
    log = captureStdout([&] { EXPECT_EQ(runner->synchronize(), 0); });
    EXPECT_EQ(log, "");
}

TEST(Runner, RefusedRunOrFailedWait_IsAFailureAndLeavesNoStaleError) {
    TwoEngineModel model;
    model.writeEngineFile();
    const std::shared_ptr<Runner> runner = initialisedRunner(model);
    const std::shared_ptr<Engine>& rimg = runner->engine("rimg");
    cudaStream_t gone = nullptr;
    ASSERT_EQ(cudaStreamCreate(&gone), cudaSuccess);
    ASSERT_EQ(cudaStreamDestroy(gone), cudaSuccess);

    // TensorRT refuses to queue on a destroyed stream and records why; run() consumes that.
    rimg->setStream(gone);
    std::string log = captureStdout([&] { EXPECT_NE(rimg->run(), 0); });
    EXPECT_NE(log.find("rimg was refused: error code 3, enqueue: cannot queue on the stream"),
              std::string::npos)
        << log;
    // A wait that fails is no proof that the queued work ran.
    log = captureStdout([&] { EXPECT_NE(rimg->synchronize(), 0); });
    EXPECT_NE(log.find("Cuda Runtime Assert: cuda error code"), std::string::npos) << log;

    rimg->setStream(runner->stream());
    ASSERT_EQ(runner->run(), 0);
    log = captureStdout([&] { EXPECT_EQ(runner->synchronize(), 0); });
    EXPECT_EQ(log, "");
}

}  // namespace krell::det::test
