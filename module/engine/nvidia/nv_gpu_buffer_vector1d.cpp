#include "module/engine/nvidia/nv_gpu_buffer_vector1d.h"

#include "module/common/log.h"
#include "module/engine/nvidia/nv_gpu_buffer.h"

namespace krell::det {

void NvGPUBufferVector1d::mallocCustomizedPtrs() {
    if (elements_.empty()) {
        DET_LOG(kLogError) << "[NvGPUBufferVector1d] Error, buffer size is zero!" << kLogReset;
        return;
    }
    customized_ptrs_.reset();
    customized_ptrs_ =
        std::make_shared<NvGPUBuffer>(static_cast<uint32_t>(sizeof(void*) * elements_.size()));
}

void NvGPUBufferVector1d::uploadPtrs() {
    if (!cpu_ptrs_ || !customized_ptrs_) {
        DET_LOG(kLogError) << "[NvGPUBufferVector1d] Error, the pointer tables are not built!"
                           << kLogReset;
        return;
    }
    customized_ptrs_->copyFrom(cpu_ptrs_, TransferKind::CPUToNvGPU, nullptr);
}

}  // namespace krell::det
