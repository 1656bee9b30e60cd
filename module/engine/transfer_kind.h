// The named directions a buffer copy can take.
#pragma once

#include <cstdint>

namespace krell::det {

//! "NvCPU" is host memory seen by the GPU side; "HB" names a device this program does not have.
enum class TransferKind : int32_t {
    None = 0,
    CPUToCPU = 1,
    CPUToNvGPU = 2,
    NvGPUToCPU = 3,
    CPUToNvCPU = 4,
    NvCPUToCPU = 5,
    NvGPUToNvGPU = 6,
    NvCPUToNvCPU = 7,
    NvCPUToNvGPU = 8,
    NvGPUToNvCPU = 9,
    CPUToHB = 10,
    HBToCPU = 11,
    HBToHB = 12,
};

//! The kind's name as messages print it ("CPUToNvGPU"); "Unknown" for a value outside the table.
const char* transferKindName(TransferKind kind);

}  // namespace krell::det
