// NvGPUBufferVector1d: a buffer vector whose customized pointer table lives in device memory.
#pragma once

#include "module/engine/buffer_vector1d.h"

namespace krell::det {

class NvGPUBufferVector1d : public BufferVector1d {
public:
    using BufferVector1d::BufferVector1d;

    //! Replaces the device table with a fresh NvGPUBuffer of 8 bytes per element; with no
    //! elements, logs and keeps the old one.
    void mallocCustomizedPtrs() override;
    //! Uploads the host table on the default stream; logs and copies nothing when either table
    //! is missing.
    void uploadPtrs() override;
};

}  // namespace krell::det
