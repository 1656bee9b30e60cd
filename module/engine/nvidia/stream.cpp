#include "module/engine/nvidia/stream.h"

#include "module/common/log.h"
#include "module/engine/nvidia/cuda_check.h"

namespace krell::det {

CUDAStreams::~CUDAStreams() {
    destroyOwn();
}

void CUDAStreams::destroyOwn() {
    for (size_t i = 0; i < streams_.size(); ++i) {
        if (!borrowed_[i] && streams_[i] != nullptr) {
            DET_CUDA_CHECK(cudaStreamDestroy(streams_[i]));
        }
        streams_[i] = nullptr;
    }
}

void CUDAStreams::resize(uint32_t count, unsigned int flags, float priorityFraction) {
    destroyOwn();
    streams_.assign(count, nullptr);
    borrowed_.assign(count, false);
    if (!(priorityFraction >= 0.0F && priorityFraction <= 1.0F)) {
        DET_LOG(kLogInfo) << "Priority is out of range, set to 0";
        priorityFraction = 0.0F;
    }
    int least = 0;
    int greatest = 0;
    int priority = 0;
    if (DET_CUDA_CHECK(cudaDeviceGetStreamPriorityRange(&least, &greatest))) {
        priority = static_cast<int>(static_cast<float>(least) +
                                    priorityFraction * static_cast<float>(greatest - least));
    }
    for (uint32_t i = 0; i < count; ++i) {
        DET_CUDA_CHECK(cudaStreamCreateWithPriority(&streams_[i], flags, priority));
        int actual = 0;
        DET_CUDA_CHECK(cudaStreamGetPriority(streams_[i], &actual));
        DET_LOG(kLogInfo) << "cudaSteam Idx: " << i << " Priority: " << actual;
    }
}

cudaStream_t CUDAStreams::operator[](uint32_t index) const {
    if (index >= streams_.size()) {
        DET_LOG(kLogError) << "[CUDAStreams] the idx " << index
                           << " exceeds the total number of stream " << streams_.size()
                           << kLogReset;
        return nullptr;
    }
    return streams_[index];
}

}  // namespace krell::det
