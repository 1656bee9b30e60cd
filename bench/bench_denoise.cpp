// cloud_denoiser's per-frame work on the demo model (1x4x64x2560 int8 in, 1x1x64x2560 int8 out),
// split into its stages: read the frame file, quantise it, upload, infer, download the
// prediction, hand the recurrent state to the next frame, write the result file. Each stage is
// timed on its own within every iteration (one iteration = one frame) and reported in ms per
// frame, with the share of inference in the whole and the frames per second of the sum.
//
// BM_DenoiseRun times the pipeline's own Run (upload + infer + download + state) as the program
// calls it, so the stage figures can be checked against it; BM_Folder runs the stages the way
// the program does over a folder, with the next frame read and quantised while the current one
// is inferred.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
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

// A throw-away working folder with the demo model (engine built once) and a short sequence.
struct Workspace {
    fs::path dir;
    std::string config;
    std::vector<std::string> frames;

    Workspace() {
        char pattern[] = "/tmp/bench-denoise.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        dir = pattern;
        const std::string net = (dir / "demo.net").string();
        krell::demo::writeNetworkFile(net, "v0.0.4");
        config = (dir / "test.json").string();
        std::ofstream(config)
            << krell::demo::makeConfig(net, (dir / "demo.engine").string()).dump();
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
};

Workspace& workspace() {
    static Workspace instance;
    return instance;
}

// The pipeline's runner and buffers, driven stage by stage.
struct Stages {
    krell::det::ModelParameter model;
    std::shared_ptr<krell::det::Runner> runner;
    std::shared_ptr<krell::det::Engine> engine;
    cudaStream_t stream = nullptr;

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
        engine->getBuffer("hidden_features")->setZero(stream);
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
    Workspace& ws = workspace();
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
BENCHMARK(BM_Stages)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_DenoiseRun(benchmark::State& state) {
    Workspace& ws = workspace();
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
BENCHMARK(BM_DenoiseRun)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Read and quantise one frame ahead on a second thread, as cloud_denoiser does over a folder.
void BM_Folder(benchmark::State& state) {
    Workspace& ws = workspace();
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
BENCHMARK(BM_Folder)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
