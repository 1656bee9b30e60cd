// The cloud_denoiser frame loop over the real pipeline and engine when the inference of one
// frame fails once the stream reaches it: the frame gets no result, the run goes on, and the
// failed frame's recurrent state does not reach the next frame.
#include <gtest/gtest.h>

#include <cuda_runtime_api.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/denoise/src/denoise.h"
#include "app/denoise/src/driver.h"
#include "app/denoise/src/frame_quantizer.h"
#include "module/engine/engine_factory.h"
#include "module/engine/nvidia/nv_gpu_engine.h"
#include "tools/denoise-demo/demo_network.h"
#include "tools/denoise-demo/synthetic_scene.h"

namespace {

namespace fs = std::filesystem;

// The real engine; the runs named in failingRuns() (counted from 1 over every engine of the
// class) fail the way a kernel fault does under TensorRT: enqueueV2 has returned true, and the
// context reports kFAILED_EXECUTION to its error recorder from the thread running the stream.
// The stand-in checks all it can when the run is queued, so the report is placed on the stream
// here.
class StreamFaultEngine : public krell::det::NvGPUEngine {
public:
    using NvGPUEngine::NvGPUEngine;

    static std::set<int>& failingRuns() {
        static std::set<int> runs;
        return runs;
    }
    static int& runCount() {
        static int count = 0;
        return count;
    }

    int32_t run() override {
        const int32_t status = NvGPUEngine::run();
        if (status == 0 && failingRuns().count(++runCount()) > 0) {
            cudaLaunchHostFunc(stream(), &reportFault, errorRecorder().get());
        }
        return status;
    }

private:
    static void reportFault(void* recorder) {
        static_cast<krell::det::KrellErrorRecorder*>(recorder)->reportError(
            nvinfer1::ErrorCode::kFAILED_EXECUTION, "an illegal memory access was encountered");
    }
};

const bool kFaultEngineRegistered = krell::det::EngineFactory::instance().registerClass(
    "StreamFaultEngine", [](const krell::det::EngineParameter& parameter, const std::string& name) {
        return std::make_shared<StreamFaultEngine>(parameter, name);
    });

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StreamFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kFaultEngineRegistered);
        char pattern[] = "/tmp/stream-fault-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        config_ = dir_ / "test.json";
        fs::create_directories(dir_ / "in");
        const std::string net = (dir_ / "demo.net").string();
        ASSERT_TRUE(krell::demo::writeNetworkFile(net, "v0.0.4"));
        nlohmann::json config = krell::demo::makeConfig(net, (dir_ / "demo.engine").string());
        config["engine"]["rimg"]["type"] = "StreamFaultEngine";
        std::ofstream(config_) << config.dump();
        StreamFaultEngine::failingRuns().clear();
        StreamFaultEngine::runCount() = 0;
    }
    void TearDown() override { fs::remove_all(dir_); }

    //! Writes frame index of scene seed under name into the input folder; returns its bytes.
    std::vector<uint8_t> writeFrame(const std::string& name, uint32_t seed, int32_t index) {
        std::vector<uint8_t> raw = krell::demo::makeSceneFrame(seed, index, 0.003).raw;
        std::ofstream(dir_ / "in" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(raw.data()),
                   static_cast<std::streamsize>(raw.size()));
        return raw;
    }

    //! The prediction of the last of frames, run in order through a fresh pipeline.
    std::string predictionAfter(const std::vector<std::vector<uint8_t>>& frames) {
        krell::Denoise denoise;
        EXPECT_TRUE(denoise.Init(config_.string(), 0));
        std::vector<int8_t> planes(krell::frame::kQuantizedFrameBytes);
        std::string prediction(krell::frame::kResultBytes, '\0');
        for (const std::vector<uint8_t>& raw : frames) {
            krell::frame::quantizeFrame(raw.data(), planes.data());
            EXPECT_EQ(denoise.Run(planes.data(), prediction.data()), 0);
        }
        return prediction;
    }

    fs::path dir_;
    fs::path config_;
};

TEST_F(StreamFaultTest, FrameFailingOnTheStream_GetsNoResultAndLeavesTheStateAlone) {
    // c repeats b, so the state b would leave changes c's prediction.
    const std::vector<uint8_t> a = writeFrame("a.bin", 11, 0);
    const std::vector<uint8_t> b = writeFrame("b.bin", 12, 0);
    const std::vector<uint8_t> c = writeFrame("c.bin", 12, 0);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    krell::Denoise denoise;
    ASSERT_TRUE(denoise.Init(config_.string(), 0));
    ASSERT_TRUE(denoise.recurrent());
    StreamFaultEngine::failingRuns() = {2};
    const std::string in = (dir_ / "in").string();
    const int exitCode = krell::processPaths(
        [&denoise](const int8_t* quantized, uint8_t* prediction) {
            return denoise.Run(quantized, prediction);
        },
        in, (dir_ / "out").string());
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(exitCode, krell::kExitFramesSkipped);
    EXPECT_FALSE(fs::exists(dir_ / "out/b_result.bin"));
    EXPECT_NE(out.find("the inference of rimg failed on the stream: error code 7, an illegal "
                       "memory access was encountered"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("inference error: " + in + "/b.bin (status 1), frame skipped\n"),
              std::string::npos)
        << out;
    EXPECT_NE(err.find("2 of 3 frames written, 1 skipped after a failed inference"),
              std::string::npos)
        << err;

    StreamFaultEngine::failingRuns().clear();
    // Compared whole, not printed: each is 163840 bytes.
    EXPECT_TRUE(readText(dir_ / "out/a_result.bin") == predictionAfter({a}));
    // c sees the state a left, as if b had never run; b's state would have shown.
    const std::string cAfterA = predictionAfter({a, c});
    EXPECT_TRUE(readText(dir_ / "out/c_result.bin") == cAfterA);
    EXPECT_FALSE(predictionAfter({a, b, c}) == cAfterA);
}

}  // namespace
