// The TensorRT stand-in on the denoiser's shape, against oneDNN running the same convolutions on
// its own (the graph's overhead) and, through run-bench-engine.sh, against PyTorch.
//
// Network on a 1x4x64x2560 frame: conv 4->16 3x3, conv 16->32 3x3 stride 2, conv 32->32 3x3,
// deconv 32->16 2x2 stride 2, concat with the first conv's output, conv 32->16 3x3, conv 16->1 1x1;
// ReLU after every layer but the last.
//
// Extra flags (instead of the Google Benchmark flags): --dump_dir=DIR writes weights.bin, input.bin
// and output.bin (float32, layer order: kernel then bias) for bench_engine_torch.py, the int8
// engines' outputs (output_int8_emulated.bin, output_int8_kernels.bin), prints the
// largest difference between the int8 engines (emulated on float kernels, and on int8 kernels) and
// the float path on that frame, and exits;
// --profile prints the engine's per-layer times (mean of kProfileRuns runs) and exits;
// --kernels prints oneDNN's instruction set and the kernels of every layer and primitive, with
// reference implementations flagged (--dump_dir and --profile print this first too), and exits.
#include <benchmark/benchmark.h>
#include <oneapi/dnnl/dnnl.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "NvInfer.h"

namespace {

constexpr int kHeight = 64;
constexpr int kWidth = 2560;

struct LayerSpec {
    bool deconv;
    int in_channels, maps, kernel, stride, pad;
    bool relu;
    int in_height, in_width;  // spatial size of the layer's input
};

double networkFlops();

// CPU seconds used by all threads of the process. On a shared machine wall time also counts
// waiting for a core; CPU time counts only the work, so ratios of it stay meaningful under load.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Adds the counters every benchmark reports: network GFLOP/s by wall time and CPU ms per frame.
void reportCounters(benchmark::State& state, double cpu_start) {
    const double frames = double(state.iterations());
    state.counters["GFLOPs"] =
        benchmark::Counter(networkFlops() * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["cpu_ms_per_frame"] =
        frames > 0 ? (processCpuSeconds() - cpu_start) * 1e3 / frames : 0.0;
}

const std::vector<LayerSpec>& layers() {
    static const std::vector<LayerSpec> specs = {
        {false, 4, 16, 3, 1, 1, true, kHeight, kWidth},
        {false, 16, 32, 3, 2, 1, true, kHeight, kWidth},
        {false, 32, 32, 3, 1, 1, true, kHeight / 2, kWidth / 2},
        {true, 32, 16, 2, 2, 0, true, kHeight / 2, kWidth / 2},
        {false, 32, 16, 3, 1, 1, true, kHeight, kWidth},
        {false, 16, 1, 1, 1, 0, false, kHeight, kWidth},
    };
    return specs;
}

double layerFlops(const LayerSpec& s) {
    // Multiply-adds per input (deconvolution) or output (convolution) position.
    const double positions = s.deconv ? double(s.in_height) * s.in_width
                                      : double(s.in_height / s.stride) * (s.in_width / s.stride);
    return 2.0 * positions * s.in_channels * s.maps * s.kernel * s.kernel;
}

double networkFlops() {
    double total = 0.0;
    for (const LayerSpec& s : layers())
        total += layerFlops(s);
    return total;
}

struct Weights {
    std::vector<std::vector<float>> kernels, biases;
    std::vector<float> input;
};

const Weights& weights() {
    static const Weights w = [] {
        Weights made;
        std::mt19937 generator(2024);
        std::normal_distribution<float> normal(0.0F, 1.0F);
        for (const LayerSpec& s : layers()) {
            const float gain = std::sqrt(2.0F / float(s.in_channels * s.kernel * s.kernel));
            std::vector<float> kernel(std::size_t(s.in_channels) * s.maps * s.kernel * s.kernel);
            for (float& v : kernel)
                v = normal(generator) * gain;
            std::vector<float> bias(s.maps);
            for (float& v : bias)
                v = 0.1F * normal(generator);
            made.kernels.push_back(std::move(kernel));
            made.biases.push_back(std::move(bias));
        }
        made.input.resize(std::size_t(4) * kHeight * kWidth);
        for (float& v : made.input)
            v = normal(generator);
        return made;
    }();
    return w;
}

class QuietLogger : public nvinfer1::ILogger {
public:
    void log(Severity severity, const char* msg) noexcept override {
        if (severity <= Severity::kERROR) std::fprintf(stderr, "%s\n", msg);
    }
};

nvinfer1::Weights view(const std::vector<float>& values) {
    nvinfer1::Weights w;
    w.type = nvinfer1::DataType::kFLOAT;
    w.values = values.data();
    w.count = static_cast<int64_t>(values.size());
    return w;
}

nvinfer1::ITensor* addLayer(nvinfer1::INetworkDefinition& net, nvinfer1::ITensor& in,
                            std::size_t index) {
    const LayerSpec& s = layers()[index];
    const nvinfer1::DimsHW k(s.kernel, s.kernel), stride(s.stride, s.stride), pad(s.pad, s.pad);
    nvinfer1::ILayer* layer = nullptr;
    if (s.deconv) {
        auto* d = net.addDeconvolutionNd(in, s.maps, k, view(weights().kernels[index]),
                                         view(weights().biases[index]));
        d->setStrideNd(stride);
        d->setPaddingNd(pad);
        layer = d;
    } else {
        auto* c = net.addConvolutionNd(in, s.maps, k, view(weights().kernels[index]),
                                       view(weights().biases[index]));
        c->setStrideNd(stride);
        c->setPaddingNd(pad);
        layer = c;
    }
    nvinfer1::ITensor* out = layer->getOutput(0);
    return s.relu ? net.addActivation(*out, nvinfer1::ActivationType::kRELU)->getOutput(0) : out;
}

struct EngineHolder {
    QuietLogger logger;
    std::unique_ptr<nvinfer1::ICudaEngine> engine;
    std::unique_ptr<nvinfer1::IExecutionContext> context;
};

// One device allocation per binding of an engine, as a GPU engine needs them; binding 0 holds
// the bench frame.
class DeviceBindings {
public:
    explicit DeviceBindings(const nvinfer1::ICudaEngine& engine) {
        for (int32_t i = 0; i < engine.getNbBindings(); ++i) {
            const nvinfer1::Dims d = engine.getBindingDimensions(i);
            std::size_t count = 1;
            for (int32_t k = 0; k < d.nbDims; ++k)
                count *= std::size_t(d.d[k]);
            void* memory = nullptr;
            cudaMalloc(&memory, count * sizeof(float));
            pointers_.push_back(memory);
            counts_.push_back(count);
        }
        cudaMemcpy(pointers_[0], weights().input.data(), weights().input.size() * sizeof(float),
                   cudaMemcpyHostToDevice);
    }
    ~DeviceBindings() {
        for (void* p : pointers_)
            cudaFree(p);
    }
    DeviceBindings(const DeviceBindings&) = delete;
    DeviceBindings& operator=(const DeviceBindings&) = delete;
    void** data() { return pointers_.data(); }
    std::size_t size() const { return pointers_.size(); }
    std::vector<float> read(std::size_t binding) const {
        std::vector<float> host(counts_[binding]);
        cudaMemcpy(host.data(), pointers_[binding], host.size() * sizeof(float),
                   cudaMemcpyDeviceToHost);
        return host;
    }

private:
    std::vector<void*> pointers_;
    std::vector<std::size_t> counts_;
};

// Engine of the bench network. With ranges (input, t1 .. t5, concatenation; magnitudes) the
// tensors get those dynamic ranges in an INT8 engine, whose convolutions compute in int8 when
// int8_kernels is set and in float on the int8-stored tensors otherwise; with calibrate, t1 .. t5
// and the concatenation become extra outputs (for measuring their ranges).
void buildEngine(EngineHolder& made, const std::vector<float>* ranges, bool calibrate,
                 bool int8_kernels) {
    std::unique_ptr<nvinfer1::IBuilder> builder(nvinfer1::createInferBuilder(made.logger));
    std::unique_ptr<nvinfer1::IBuilderConfig> config(builder->createBuilderConfig());
    std::unique_ptr<nvinfer1::INetworkDefinition> net(builder->createNetworkV2(
        1U << static_cast<uint32_t>(nvinfer1::NetworkDefinitionCreationFlag::kEXPLICIT_BATCH)));
    nvinfer1::ITensor* in =
        net->addInput("input", nvinfer1::DataType::kFLOAT, nvinfer1::Dims4(1, 4, kHeight, kWidth));
    nvinfer1::ITensor* t1 = addLayer(*net, *in, 0);
    nvinfer1::ITensor* t2 = addLayer(*net, *t1, 1);
    nvinfer1::ITensor* t3 = addLayer(*net, *t2, 2);
    nvinfer1::ITensor* t4 = addLayer(*net, *t3, 3);
    nvinfer1::ITensor* parts[] = {t4, t1};
    nvinfer1::ITensor* cat = net->addConcatenation(parts, 2)->getOutput(0);
    nvinfer1::ITensor* t5 = addLayer(*net, *cat, 4);
    nvinfer1::ITensor* out = addLayer(*net, *t5, 5);
    out->setName("output");
    net->markOutput(*out);
    nvinfer1::ITensor* ranged[] = {in, t1, t2, t3, t4, t5, cat};
    for (std::size_t i = 0; i < 7; ++i) {
        if (ranges != nullptr) ranged[i]->setDynamicRange(-(*ranges)[i], (*ranges)[i]);
        if (calibrate && i > 0) net->markOutput(*ranged[i]);
    }
    if (ranges != nullptr) {
        config->setFlag(nvinfer1::BuilderFlag::kINT8);
        if (int8_kernels) config->setFlag(nvinfer1::BuilderFlag::kHOST_INT8_COMPUTE);
    }
    std::unique_ptr<nvinfer1::IHostMemory> blob(builder->buildSerializedNetwork(*net, *config));
    std::unique_ptr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(made.logger));
    if (blob) made.engine.reset(runtime->deserializeCudaEngine(blob->data(), blob->size()));
    if (made.engine) made.context.reset(made.engine->createExecutionContext());
}

EngineHolder& holder() {
    static EngineHolder h = [] {
        EngineHolder made;
        buildEngine(made, nullptr, false, false);
        return made;
    }();
    return h;
}

// Largest magnitude of the input and of every ranged tensor on the bench frame.
std::vector<float> calibratedRanges() {
    EngineHolder calibration;
    buildEngine(calibration, nullptr, true, false);
    if (!calibration.context) return {};
    DeviceBindings device(*calibration.engine);
    if (!calibration.context->executeV2(device.data())) return {};
    std::vector<std::vector<float>> buffers(1, weights().input);
    for (std::size_t i = 1; i < device.size(); ++i)
        buffers.push_back(device.read(i));
    std::vector<float> ranges;
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        if (i == 1) continue;  // the network output carries no range
        float top = 0.0F;
        for (float v : buffers[i])
            top = std::max(top, std::fabs(v));
        ranges.push_back(top);
    }
    return ranges;
}

EngineHolder& int8Holder(bool int8_kernels) {
    static EngineHolder holders[2];
    static const bool built = [] {
        const std::vector<float> ranges = calibratedRanges();
        if (ranges.size() == 7) {
            buildEngine(holders[0], &ranges, false, false);
            buildEngine(holders[1], &ranges, false, true);
        }
        return true;
    }();
    (void)built;
    return holders[int8_kernels ? 1 : 0];
}

void runFrames(benchmark::State& state, EngineHolder& h) {
    if (!h.context) {
        state.SkipWithError("engine could not be built");
        return;
    }
    DeviceBindings device(*h.engine);
    void** bindings = device.data();
    cudaStream_t stream = nullptr;
    cudaStreamCreate(&stream);
    h.context->enqueue(1, bindings, stream, nullptr);  // warm-up: first touch of every buffer
    cudaStreamSynchronize(stream);
    const double cpu_start = processCpuSeconds();
    for (auto _ : state) {
        h.context->enqueue(1, bindings, stream, nullptr);
        cudaStreamSynchronize(stream);
    }
    reportCounters(state, cpu_start);
    cudaStreamDestroy(stream);
}

void BM_EngineFrame(benchmark::State& state) {
    runFrames(state, holder());
}

// The INT8 engine (ranges measured on the bench frame) on float kernels: the cost of storing
// every ranged tensor as int8.
void BM_EngineFrameInt8Emulation(benchmark::State& state) {
    runFrames(state, int8Holder(false));
}

// The same INT8 engine with its convolutions in int8.
void BM_EngineFrameInt8Compute(benchmark::State& state) {
    runFrames(state, int8Holder(true));
}

// The same convolutions as bare oneDNN primitives, each on inputs already in the layout it
// prefers: no reorders, no concatenation, no graph. With upsample_as_1x1 the 2x2 stride-2
// deconvolution runs as the 1x1 convolution to 64 channels that the engine uses for it (the same
// multiply-adds); otherwise as oneDNN's own deconvolution primitive.
struct AlonePrimitives {
    dnnl::engine engine{dnnl::engine::kind::cpu, 0};
    dnnl::stream stream{engine};
    std::vector<dnnl::primitive> primitives;
    std::vector<std::unordered_map<int, dnnl::memory>> args;
    std::vector<std::string> names;  // primitive kind and oneDNN implementation, per primitive

    explicit AlonePrimitives(bool upsample_as_1x1);
};

AlonePrimitives::AlonePrimitives(bool upsample_as_1x1) {
    using dnnl::memory;
    for (LayerSpec s : layers()) {
        if (s.deconv && upsample_as_1x1) {
            s = {false,       s.in_channels, s.maps * s.kernel * s.kernel, 1, 1, 0, s.relu,
                 s.in_height, s.in_width};
        }
        const memory::dims src{1, s.in_channels, s.in_height, s.in_width};
        const int oh = s.deconv ? s.in_height * s.stride : s.in_height / s.stride;
        const int ow = s.deconv ? s.in_width * s.stride : s.in_width / s.stride;
        const memory::dims dst{1, s.maps, oh, ow}, wts{s.maps, s.in_channels, s.kernel, s.kernel};
        const memory::dims strides{s.stride, s.stride}, pad{s.pad, s.pad}, dil{0, 0};
        auto any = [](const memory::dims& d) {
            return memory::desc(d, memory::data_type::f32, memory::format_tag::any);
        };
        const memory::desc bias({s.maps}, memory::data_type::f32, memory::format_tag::a);
        // Scratch memory handed in, as the engine does: the primitives run on the stream's thread,
        // where oneDNN's per-thread scratchpad of the creating thread is not.
        dnnl::primitive_attr attr;
        attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
        if (s.relu) {
            dnnl::post_ops ops;
            ops.append_eltwise(1.0F, dnnl::algorithm::eltwise_relu, 0.0F, 0.0F);
            attr.set_post_ops(ops);
        }
        const auto kind = dnnl::prop_kind::forward_inference;
        memory::desc src_md, w_md, dst_md, scratch_md;
        if (s.deconv) {
            dnnl::deconvolution_forward::primitive_desc pd(
                {kind, dnnl::algorithm::deconvolution_direct, any(src), any(wts), bias, any(dst),
                 strides, dil, pad, pad},
                attr, engine);
            primitives.emplace_back(dnnl::deconvolution_forward(pd));
            names.push_back(std::string("deconvolution ") + pd.impl_info_str());
            src_md = pd.src_desc(), w_md = pd.weights_desc(), dst_md = pd.dst_desc();
            scratch_md = pd.scratchpad_desc();
        } else {
            dnnl::convolution_forward::primitive_desc pd(
                {kind, dnnl::algorithm::convolution_direct, any(src), any(wts), bias, any(dst),
                 strides, dil, pad, pad},
                attr, engine);
            primitives.emplace_back(dnnl::convolution_forward(pd));
            names.push_back(std::string("convolution ") + pd.impl_info_str());
            src_md = pd.src_desc(), w_md = pd.weights_desc(), dst_md = pd.dst_desc();
            scratch_md = pd.scratchpad_desc();
        }
        std::unordered_map<int, memory> a = {{DNNL_ARG_SRC, memory(src_md, engine)},
                                             {DNNL_ARG_WEIGHTS, memory(w_md, engine)},
                                             {DNNL_ARG_BIAS, memory(bias, engine)},
                                             {DNNL_ARG_DST, memory(dst_md, engine)},
                                             {DNNL_ARG_SCRATCHPAD, memory(scratch_md, engine)}};
        for (auto& m : a)
            std::memset(m.second.get_data_handle(), 0, m.second.get_desc().get_size());
        args.push_back(std::move(a));
    }
}

void runConvolutionsAlone(benchmark::State& state, bool upsample_as_1x1) {
    using dnnl::memory;
    AlonePrimitives alone(upsample_as_1x1);
    // Run on a stream exactly as the engine's work is: the same kind of thread with its own
    // OpenMP team, the same queueing and waiting.
    struct Work {
        std::vector<dnnl::primitive>* primitives;
        std::vector<std::unordered_map<int, memory>>* args;
        dnnl::stream* stream;
    } work{&alone.primitives, &alone.args, &alone.stream};
    auto run = [](void* data) {
        auto* w = static_cast<Work*>(data);
        for (std::size_t i = 0; i < w->primitives->size(); ++i)
            (*w->primitives)[i].execute(*w->stream, (*w->args)[i]);
        w->stream->wait();
    };
    cudaStream_t cuda_stream = nullptr;
    cudaStreamCreate(&cuda_stream);
    cudaLaunchHostFunc(cuda_stream, run, &work);  // warm-up
    cudaStreamSynchronize(cuda_stream);
    const double cpu_start = processCpuSeconds();
    for (auto _ : state) {
        cudaLaunchHostFunc(cuda_stream, run, &work);
        cudaStreamSynchronize(cuda_stream);
    }
    cudaStreamDestroy(cuda_stream);
    reportCounters(state, cpu_start);
}

void BM_OneDnnConvolutionsAlone(benchmark::State& state) {
    runConvolutionsAlone(state, false);
}
void BM_OneDnnConvolutionsAloneUpsampleAs1x1(benchmark::State& state) {
    runConvolutionsAlone(state, true);
}

BENCHMARK(BM_EngineFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineFrameInt8Emulation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineFrameInt8Compute)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneDnnConvolutionsAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneDnnConvolutionsAloneUpsampleAs1x1)->Unit(benchmark::kMillisecond)->UseRealTime();

bool writeFloats(const std::string& path, const std::vector<float>& values, bool append) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out.write(reinterpret_cast<const char*>(values.data()),
              static_cast<std::streamsize>(values.size() * sizeof(float)));
    return static_cast<bool>(out);
}

int dump(const std::string& dir) {
    EngineHolder& h = holder();
    if (!h.context) return 1;
    DeviceBindings device(*h.engine);
    if (!h.context->executeV2(device.data())) return 1;
    const std::vector<float> input = weights().input, output = device.read(1);
    bool ok = writeFloats(dir + "/input.bin", input, false) &&
              writeFloats(dir + "/output.bin", output, false);
    ok = ok && writeFloats(dir + "/weights.bin", {}, false);
    for (std::size_t i = 0; i < layers().size(); ++i) {
        ok = ok && writeFloats(dir + "/weights.bin", weights().kernels[i], true) &&
             writeFloats(dir + "/weights.bin", weights().biases[i], true);
    }
    std::printf("network GFLOP per frame: %.3f\n", networkFlops() * 1e-9);
    for (bool int8_kernels : {false, true}) {
        EngineHolder& q = int8Holder(int8_kernels);
        if (!q.context) continue;
        DeviceBindings int8_device(*q.engine);
        if (!q.context->executeV2(int8_device.data())) continue;
        const std::vector<float> quantised = int8_device.read(1);
        ok = ok && writeFloats(dir + (int8_kernels ? "/output_int8_kernels.bin"
                                                   : "/output_int8_emulated.bin"),
                               quantised, false);
        float diff = 0.0F, top = 0.0F;
        for (std::size_t i = 0; i < output.size(); ++i) {
            diff = std::max(diff, std::fabs(quantised[i] - output[i]));
            top = std::max(top, std::fabs(output[i]));
        }
        std::printf(
            "int8 engine on %s kernels: max |difference| to float %.4g (output magnitude up to "
            "%.4g, relative %.4g)\n",
            int8_kernels ? "int8" : "float", diff, top, top > 0.0F ? diff / top : 0.0F);
    }
    return ok ? 0 : 1;
}

const char* isaName(dnnl::cpu_isa isa) {
    switch (isa) {
        case dnnl::cpu_isa::sse41:
            return "SSE4.1";
        case dnnl::cpu_isa::avx:
            return "AVX";
        case dnnl::cpu_isa::avx2:
            return "AVX2";
        case dnnl::cpu_isa::avx2_vnni:
            return "AVX2 with VNNI";
        case dnnl::cpu_isa::avx512_core:
            return "AVX-512";
        case dnnl::cpu_isa::avx512_core_vnni:
            return "AVX-512 with VNNI";
        case dnnl::cpu_isa::avx512_core_bf16:
            return "AVX-512 with VNNI and BF16";
        case dnnl::cpu_isa::avx512_core_amx:
            return "AVX-512 with AMX";
        default:
            return "other";
    }
}

// Prints one line per engine layer with the kernels that run it; returns how many of them are
// oneDNN reference implementations (flagged), which run tens of times slower than its JIT code.
int printKernels(const char* title, EngineHolder& h) {
    if (!h.context) return 0;
    std::unique_ptr<nvinfer1::IEngineInspector> inspector(h.engine->createEngineInspector());
    if (!inspector || !inspector->setExecutionContext(h.context.get())) return 0;
    std::printf("kernels of the %s engine:\n", title);
    std::string text = inspector->getEngineInformation(nvinfer1::LayerInformationFormat::kONELINE);
    int references = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const bool reference = line.find("ref:") != std::string::npos;
        references += reference ? 1 : 0;
        std::printf("  %s%s\n", line.c_str(), reference ? "   <-- REFERENCE IMPLEMENTATION" : "");
        start = end + 1;
    }
    return references;
}

void printKernelReport() {
    std::printf("oneDNN CPU instruction set: %s\n", isaName(dnnl::get_effective_cpu_isa()));
    int references = printKernels("float", holder());
    references += printKernels("INT8 (float kernels)", int8Holder(false));
    references += printKernels("INT8 (int8 kernels)", int8Holder(true));
    for (bool upsample_as_1x1 : {false, true}) {
        AlonePrimitives alone(upsample_as_1x1);
        std::printf("kernels of oneDNN alone%s:\n", upsample_as_1x1 ? " (upsampling as 1x1)" : "");
        for (const std::string& name : alone.names) {
            const bool reference = name.find("ref:") != std::string::npos;
            references += reference ? 1 : 0;
            std::printf("  %s%s\n", name.c_str(),
                        reference ? "   <-- REFERENCE IMPLEMENTATION" : "");
        }
    }
    std::printf("reference implementations: %d\n", references);
}

class MeanProfiler : public nvinfer1::IProfiler {
public:
    void reportLayerTime(const char* layerName, float ms) noexcept override {
        for (auto& entry : totals) {
            if (entry.first == layerName) {
                entry.second += ms;
                return;
            }
        }
        totals.emplace_back(layerName, ms);
    }
    std::vector<std::pair<std::string, double>> totals;
};

int profile() {
    constexpr int kProfileRuns = 20;
    EngineHolder& h = holder();
    if (!h.context) return 1;
    DeviceBindings device(*h.engine);
    void** bindings = device.data();
    h.context->executeV2(bindings);
    MeanProfiler profiler;
    h.context->setProfiler(&profiler);
    for (int i = 0; i < kProfileRuns; ++i)
        h.context->executeV2(bindings);
    h.context->setProfiler(nullptr);
    for (const auto& entry : profiler.totals)
        std::printf("%8.3f ms  %s\n", entry.second / kProfileRuns, entry.first.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string flag = "--dump_dir=";
    if (argc > 1 && std::strncmp(argv[1], flag.c_str(), flag.size()) == 0) {
        printKernelReport();
        return dump(argv[1] + flag.size());
    }
    if (argc > 1 && std::strcmp(argv[1], "--profile") == 0) {
        printKernelReport();
        return profile();
    }
    if (argc > 1 && std::strcmp(argv[1], "--kernels") == 0) {
        printKernelReport();
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
