#include "module/runner/nv_runner.h"

#include "module/engine/nvidia/cuda_check.h"

namespace krell::det {

NvRunner::NvRunner(const ModelParameter& parameter) : Runner(parameter) {
    DET_CUDA_CHECK(cudaSetDevice(0));
    streams_.resize(1, cudaStreamNonBlocking, model_.streamPriority());
}

void NvRunner::setStreams() {
    const cudaStream_t first = streams_[0];
    for (const auto& entry : engines_) {
        entry.second->setStream(first);
    }
    for (const auto& entry : processors_) {
        entry.second->setStream(first);
    }
}

}  // namespace krell::det
