// cloud_denoiser's per-frame work, split into its stages: read the frame file, quantise it,
// upload, infer, download the prediction, hand the recurrent state to the next frame, write the
// result file. Each stage is timed on its own within every iteration (one iteration = one frame)
// and reported in ms per frame, with the share of inference in the whole and the frames per
// second of the sum.
//
// Every benchmark runs on two models (the argument, named in the label):
//   0 "demo": the hand-set demo model (1x4x64x2560 int8 in, 1x1x64x2560 int8 out, recurrent),
//     about 0.24 GFLOP per frame;
//   1 "realistic": bench_engine's encoder-decoder of about 3 GFLOP per frame (conv 4->16 3x3,
//     conv 16->32 3x3 stride 2, conv 32->32 3x3, deconv 32->16 2x2 stride 2, concatenation with
//     the first conv's output, conv 32->16 3x3, conv 16->1 1x1; ReLU after all but the last),
//     written as a v0.0.4 network file through the demo's container writer, with random weights
//     and built into an int8 engine by the program's own builder. It has no recurrent state.
//
// BM_DenoiseRun times the pipeline's own Run (upload + infer + download + state) as the program
// calls it, so the stage figures can be checked against it; BM_Folder runs the stages the way
// the program does over a folder, with the next frame read and quantised while the current one
// is inferred: its frames_per_s is the whole program's rate.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/denoise/src/denoise.h"
#include "app/denoise/src/frame_quantizer.h"
#include "module/common/parameter.h"
#include "module/engine/buffer.h"
#include "module/engine/engine.h"
#include "module/network/nvidia/trt_builder.h"
#include "module/runner/runner.h"
#include "module/runner/runner_factory.h"
#include "tools/denoise-demo/demo_network.h"
#include "tools/denoise-demo/synthetic_scene.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kSequenceFrames = 8;
constexpr uint32_t kSeed = 11;
constexpr double kNoiseFraction = 0.003;

enum Model { kDemo, kRealistic, kModelCount };
constexpr const char* kModelNames[kModelCount] = {"demo", "realistic"};

using nlohmann::json;

// Layer writer for the v0.0.4 description of the realistic network; weights are drawn with the
// He gain, so activations keep roughly the input's magnitude through the ReLUs.
class RealisticLayers {
public:
    json layers = json::array();
    std::vector<float> weights;
    double flops = 0.0;

    void input(const std::string& name) {
        layers.push_back({{"name", name},
                          {"type", "input_tensor"},
                          {"pre_nodes", json::array()},
                          {"output_shape", {1, 4, krell::demo::kRows, krell::demo::kCols}},
                          {"torch_name", "rimg_input_features"},
                          {"amax", kAmax}});
    }
    // outPositions: output positions of a convolution, input positions of a deconvolution.
    void conv(const std::string& name, const std::string& from, bool deconv, int32_t in,
              int32_t out, int32_t kernel, int32_t stride, bool relu, double outPositions) {
        const size_t kernelCount = static_cast<size_t>(in) * out * kernel * kernel;
        std::normal_distribution<float> normal(0.0F, 1.0F);
        const float gain = std::sqrt(2.0F / static_cast<float>(in * kernel * kernel));
        for (size_t i = 0; i < kernelCount; ++i) {
            weights.push_back(normal(random_) * gain);
        }
        for (int32_t i = 0; i < out; ++i) {
            weights.push_back(0.1F * normal(random_));
        }
        flops += 2.0 * outPositions * static_cast<double>(kernelCount);
        layers.push_back({{"name", name},
                          {"type", deconv ? "deconvolutional" : "convolutional"},
                          {"pre_nodes", {from}},
                          {"weight_length", kernelCount * sizeof(float)},
                          {"bias", 1},
                          {"bias_length", out * sizeof(float)},
                          {"activation", relu ? "relu" : ""},
                          {"amax", kAmax},
                          {"groups", 1},
                          {"out_channels", out},
                          {"padding", deconv ? 0 : kernel / 2},
                          {"dilation", 1},
                          {"stride", {stride, stride}},
                          {"kernel_size", {kernel, kernel}}});
    }
    void concat(const std::string& name, const std::vector<std::string>& from) {
        layers.push_back(
            {{"name", name}, {"type", "concat"}, {"pre_nodes", from}, {"amax", kAmax}});
    }
    void output(const std::string& name, const std::string& from) {
        layers.push_back({{"name", name},
                          {"type", "output_tensor"},
                          {"pre_nodes", {from}},
                          {"torch_name", "noise_rimg_preds"}});
    }

private:
    // Ranges only decide where int8 tensors saturate; the work per frame does not depend on them.
    static constexpr float kAmax = 127.0F;
    std::mt19937 random_{2024};
};

// bench_engine's network, as a "rimg" network of the program (see the file comment).
krell::demo::DemoNetwork realisticNetwork(double& flops) {
    constexpr double kFull = double(krell::demo::kRows) * krell::demo::kCols;
    constexpr double kHalf = kFull / 4.0;
    RealisticLayers b;
    b.input("input");
    b.conv("c1", "input", false, 4, 16, 3, 1, true, kFull);
    b.conv("c2", "c1", false, 16, 32, 3, 2, true, kHalf);
    b.conv("c3", "c2", false, 32, 32, 3, 1, true, kHalf);
    b.conv("d4", "c3", true, 32, 16, 2, 2, true, kHalf);
    b.concat("cat", {"d4", "c1"});
    b.conv("c5", "cat", false, 32, 16, 3, 1, true, kFull);
    b.conv("c6", "c5", false, 16, 1, 1, 1, false, kFull);
    b.output("pred", "c6");
    flops = b.flops;
    krell::demo::DemoNetwork network;
    network.description = json::array({{{"name", "rimg"}, {"layers", b.layers}}});
    network.weights = std::move(b.weights);
    return network;
}

// A throw-away working folder with one model (engine built once) and a short sequence.
struct Workspace {
    fs::path dir;
    std::string config;
    std::vector<std::string> frames;
    double network_gflop = 0.0;

    explicit Workspace(Model model) {
        char pattern[] = "/tmp/bench-denoise.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        dir = pattern;
        writeModel(model);
        fs::create_directories(dir / "frames");
        fs::create_directories(dir / "labels");
        if (!krell::demo::writeSequence((dir / "frames").string(), (dir / "labels").string(), kSeed,
                                        kSequenceFrames, kNoiseFraction)) {
            std::fprintf(stderr, "cannot write the frames in %s\n", dir.c_str());
            std::exit(1);
        }
        for (int32_t i = 0; i < kSequenceFrames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%04d.bin", i);
            frames.push_back((dir / "frames" / name).string());
        }
    }
    ~Workspace() { fs::remove_all(dir); }

    std::string resultPath() const { return (dir / "result.bin").string(); }

private:
    void writeModel(Model model) {
        const std::string net = (dir / "model.net").string();
        json parameters = krell::demo::makeConfig(net, (dir / "model.engine").string());
        bool written = false;
        if (model == kDemo) {
            written = krell::demo::writeNetworkFile(net, "v0.0.4");
            network_gflop = 0.0;
        } else {
            double flops = 0.0;
            const krell::demo::DemoNetwork network = realisticNetwork(flops);
            network_gflop = flops * 1e-9;
            written = krell::demo::writeNetworkFile(net, "v0.0.4", network, {"noise_rimg_preds"});
            parameters["engine"]["rimg"]["output_tensors"] =
                json::array({{{"TENSOR", {{"name", "noise_rimg_preds"}}}}});
        }
        config = (dir / "test.json").string();
        std::ofstream(config) << parameters.dump();
        if (!written) {
            std::fprintf(stderr, "cannot write the network file in %s\n", dir.c_str());
            std::exit(1);
        }
    }
};

// Made on first use, so a run filtered to one model builds only that model's engine.
Workspace& workspace(int64_t model) {
    if (model == kRealistic) {
        static Workspace realistic(kRealistic);
        return realistic;
    }
    static Workspace demo(kDemo);
    return demo;
}

// Names the model in the label and gives its network size.
void describeModel(benchmark::State& state) {
    state.SetLabel(kModelNames[state.range(0)]);
    const double gflop = workspace(state.range(0)).network_gflop;
    if (gflop > 0.0) {
        state.counters["network_gflop"] = gflop;
    }
}

// The pipeline's runner and buffers, driven stage by stage.
struct Stages {
    krell::det::ModelParameter model;
    std::shared_ptr<krell::det::Runner> runner;
    std::shared_ptr<krell::det::Engine> engine;
    cudaStream_t stream = nullptr;
    bool recurrent = false;

    explicit Stages(const std::string& config) {
        std::ifstream file(config);
        model = krell::det::ModelParameter(krell::det::ParamJson::parse(file));
        runner = krell::det::RunnerFactory::instance().create(model.runner(), model);
        if (!runner->checkEngineFile()) {
            krell::det::TRTBuilder(model).build();
        }
        runner->init();
        engine = runner->engine("rimg");
        stream = runner->stream(0);
        recurrent = engine->containBuffer("hidden_features");
        if (recurrent) {
            engine->getBuffer("hidden_features")->setZero(stream);
        }
        cudaStreamSynchronize(stream);
    }
    void upload(const int8_t* frame) {
        engine->getBuffer("rimg_input_features")
            ->copyFrom(frame, krell::det::TransferKind::CPUToNvGPU, stream);
        cudaStreamSynchronize(stream);
    }
    void infer() {
        runner->run();
        cudaStreamSynchronize(stream);
    }
    void download(uint8_t* result) {
        runner->getBuffer("rimg", "noise_rimg_preds")
            ->copyTo(result, krell::det::TransferKind::NvGPUToNvCPU, stream);
        cudaStreamSynchronize(stream);
    }
    void handOverState() {
        if (!recurrent) {
            return;
        }
        if (!engine->swapBindings("hidden_features", "hidden_update")) {
            engine->getBuffer("hidden_features")
                ->copyFrom(engine->getBuffer("hidden_update"),
                           krell::det::TransferKind::NvGPUToNvGPU, stream);
        }
        cudaStreamSynchronize(stream);
    }
};

bool readFrame(const std::string& path, std::vector<uint8_t>& raw) {
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
    return static_cast<bool>(in);
}

bool writeResult(const std::string& path, const std::vector<uint8_t>& result) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(result.data()),
              static_cast<std::streamsize>(result.size()));
    return static_cast<bool>(out);
}

enum Stage { kRead, kQuantise, kUpload, kInfer, kDownload, kState, kWrite, kStageCount };
constexpr const char* kStageNames[kStageCount] = {
    "read_ms", "quantise_ms", "upload_ms", "infer_ms", "download_ms", "state_ms", "write_ms"};

void BM_Stages(benchmark::State& state) {
    describeModel(state);
    Workspace& ws = workspace(state.range(0));
    Stages stages(ws.config);
    std::vector<uint8_t> raw(krell::frame::kRawFrameBytes);
    std::vector<int8_t> quantized(krell::frame::kQuantizedFrameBytes);
    std::vector<uint8_t> result(krell::frame::kResultBytes);
    double spent[kStageCount] = {};
    size_t frame = 0;
    bool ok = true;
    for (auto _ : state) {
        Clock::time_point mark = Clock::now();
        auto lap = [&](Stage stage) {
            const Clock::time_point now = Clock::now();
            spent[stage] += std::chrono::duration<double, std::milli>(now - mark).count();
            mark = now;
        };
        ok = readFrame(ws.frames[frame++ % ws.frames.size()], raw) && ok;
        lap(kRead);
        krell::frame::quantizeFrame(raw.data(), quantized.data());
        lap(kQuantise);
        stages.upload(quantized.data());
        lap(kUpload);
        stages.infer();
        lap(kInfer);
        stages.download(result.data());
        lap(kDownload);
        stages.handOverState();
        lap(kState);
        ok = writeResult(ws.resultPath(), result) && ok;
        lap(kWrite);
    }
    if (!ok) {
        state.SkipWithError("a frame could not be read or its result written");
        return;
    }
    const double frames = static_cast<double>(state.iterations());
    double whole = 0.0;
    for (int32_t s = 0; s < kStageCount; ++s) {
        state.counters[kStageNames[s]] = spent[s] / frames;
        whole += spent[s];
    }
    state.counters["infer_share"] = spent[kInfer] / whole;
    state.counters["frames_per_s"] = whole > 0.0 ? frames * 1e3 / whole : 0.0;
}
BENCHMARK(BM_Stages)
    ->Arg(kDemo)
    ->Arg(kRealistic)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

void BM_DenoiseRun(benchmark::State& state) {
    describeModel(state);
    Workspace& ws = workspace(state.range(0));
    krell::Denoise denoise;
    if (!denoise.Init(ws.config, 0)) {
        state.SkipWithError("Init failed");
        return;
    }
    std::vector<uint8_t> raw(krell::frame::kRawFrameBytes);
    std::vector<int8_t> quantized(krell::frame::kQuantizedFrameBytes);
    std::vector<uint8_t> result(krell::frame::kResultBytes);
    readFrame(ws.frames[0], raw);
    krell::frame::quantizeFrame(raw.data(), quantized.data());
    for (auto _ : state) {
        benchmark::DoNotOptimize(denoise.Run(quantized.data(), result.data()));
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DenoiseRun)
    ->Arg(kDemo)
    ->Arg(kRealistic)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// Read and quantise one frame ahead on a second thread, as cloud_denoiser does over a folder.
void BM_Folder(benchmark::State& state) {
    describeModel(state);
    Workspace& ws = workspace(state.range(0));
    krell::Denoise denoise;
    if (!denoise.Init(ws.config, 0)) {
        state.SkipWithError("Init failed");
        return;
    }
    struct Loaded {
        std::vector<uint8_t> raw = std::vector<uint8_t>(krell::frame::kRawFrameBytes);
        std::vector<int8_t> quantized = std::vector<int8_t>(krell::frame::kQuantizedFrameBytes);
    };
    auto load = [&ws](size_t index, Loaded& into) {
        readFrame(ws.frames[index % ws.frames.size()], into.raw);
        krell::frame::quantizeFrame(into.raw.data(), into.quantized.data());
    };
    Loaded loaded[2];
    std::vector<uint8_t> result(krell::frame::kResultBytes);
    size_t frame = 0;
    load(frame, loaded[0]);
    for (auto _ : state) {
        std::future<void> next =
            std::async(std::launch::async, load, frame + 1, std::ref(loaded[(frame + 1) % 2]));
        denoise.Run(loaded[frame % 2].quantized.data(), result.data());
        writeResult(ws.resultPath(), result);
        next.get();
        ++frame;
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Folder)
    ->Arg(kDemo)
    ->Arg(kRealistic)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
