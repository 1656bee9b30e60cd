// Copies of one quantized frame (655,360 bytes) through NvGPUBuffer on the host CUDA stand-in,
// next to a plain memcpy of the same size. Prints each time as a ratio to memcpy's.
#include <benchmark/benchmark.h>
#include <cuda_runtime_api.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/engine/nvidia/nv_gpu_buffer.h"

namespace {

constexpr uint32_t kFrameBytes = 655360;
const char* const kBaseline = "BM_Memcpy";

struct Frames {
    std::vector<uint8_t> host = std::vector<uint8_t>(kFrameBytes, 0x5A);
    std::shared_ptr<krell::det::NvGPUBuffer> input =
        std::make_shared<krell::det::NvGPUBuffer>(kFrameBytes);
    std::shared_ptr<krell::det::NvGPUBuffer> state =
        std::make_shared<krell::det::NvGPUBuffer>(kFrameBytes);
};

void BM_Memcpy(benchmark::State& state) {
    Frames frames;
    for (auto _ : state) {
        std::memcpy(frames.input->data(), frames.host.data(), kFrameBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}

void BM_HostToDevice_DefaultStream(benchmark::State& state) {
    Frames frames;
    for (auto _ : state) {
        frames.input->copyFrom(frames.host.data(), krell::det::TransferKind::CPUToNvGPU, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}

void BM_DeviceToDevice_DefaultStream(benchmark::State& state) {
    Frames frames;
    for (auto _ : state) {
        frames.state->copyFrom(frames.input, krell::det::TransferKind::NvGPUToNvGPU, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}

// The pipeline's pattern: work queued on a created stream, then a wait for that stream.
void BM_HostToDevice_StreamAndSync(benchmark::State& state) {
    Frames frames;
    cudaStream_t stream = nullptr;
    cudaStreamCreateWithFlags(&stream, cudaStreamNonBlocking);
    for (auto _ : state) {
        frames.input->copyFrom(frames.host.data(), krell::det::TransferKind::CPUToNvGPU, stream);
        cudaStreamSynchronize(stream);
    }
    cudaStreamDestroy(stream);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}

void BM_DeviceToDevice_StreamAndSync(benchmark::State& state) {
    Frames frames;
    cudaStream_t stream = nullptr;
    cudaStreamCreateWithFlags(&stream, cudaStreamNonBlocking);
    for (auto _ : state) {
        frames.state->copyFrom(frames.input, krell::det::TransferKind::NvGPUToNvGPU, stream);
        cudaStreamSynchronize(stream);
    }
    cudaStreamDestroy(stream);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_HostToDevice_DefaultStream);
BENCHMARK(BM_DeviceToDevice_DefaultStream);
BENCHMARK(BM_HostToDevice_StreamAndSync);
BENCHMARK(BM_DeviceToDevice_StreamAndSync);

// Console output as usual, plus the time per copy of every benchmark kept for the ratio table:
// the median when repetitions are asked for, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times_[name] = run.GetAdjustedRealTime();
                medians_[name] = true;
            } else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !medians_[name]) {
                times_[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        auto baseline = times_.find(kBaseline);
        if (baseline == times_.end() || baseline->second <= 0.0) {
            return;
        }
        std::printf("\nTime per %u-byte copy as a ratio to %s (same run):\n", kFrameBytes,
                    kBaseline);
        for (const auto& [name, time] : times_) {
            std::printf("  %-36s %.3f\n", name.c_str(), time / baseline->second);
        }
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
