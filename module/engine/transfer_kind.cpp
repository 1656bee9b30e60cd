#include "module/engine/transfer_kind.h"

namespace krell::det {

namespace {
constexpr const char* kTransferKindNames[] = {
    "None",       "CPUToCPU",     "CPUToNvGPU",   "NvGPUToCPU",   "CPUToNvCPU",
    "NvCPUToCPU", "NvGPUToNvGPU", "NvCPUToNvCPU", "NvCPUToNvGPU", "NvGPUToNvCPU",
    "CPUToHB",    "HBToCPU",      "HBToHB",
};
constexpr int32_t kTransferKindCount = sizeof(kTransferKindNames) / sizeof(kTransferKindNames[0]);
}  // namespace

const char* transferKindName(TransferKind kind) {
    const auto index = static_cast<int32_t>(kind);
    return index >= 0 && index < kTransferKindCount ? kTransferKindNames[index] : "Unknown";
}

}  // namespace krell::det
