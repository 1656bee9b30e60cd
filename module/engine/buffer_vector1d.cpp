#include "module/engine/buffer_vector1d.h"

#include "module/common/log.h"
#include "module/engine/cpu_buffer.h"

namespace krell::det {

namespace {
constexpr uint32_t kPointerBytes = 8;
static_assert(sizeof(void*) == kPointerBytes, "the pointer tables hold 64-bit addresses");
}  // namespace

void BufferVector1d::buildCpuPtrs() {
    cpu_ptrs_ =
        std::make_shared<CPUBuffer>(kPointerBytes * static_cast<uint32_t>(elements_.size()));
    auto** table = static_cast<void**>(cpu_ptrs_->data());
    for (size_t i = 0; i < elements_.size(); ++i) {
        table[i] = elements_[i] ? elements_[i]->data() : nullptr;
    }
}

void** BufferVector1d::cpu_ptrs() {
    if (elements_.empty()) {
        DET_LOG(kLogError) << "[BufferVector1d] Error, buffer size is zero!" << kLogReset;
        return nullptr;
    }
    if (!cpu_ptrs_) {
        DET_LOG(kLogError) << "[BufferVector1d] Error, cpu_ptrs is NULL!" << kLogReset;
        return nullptr;
    }
    return static_cast<void**>(cpu_ptrs_->data());
}

}  // namespace krell::det
