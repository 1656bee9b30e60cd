// NvGPUBuffer: a buffer in CUDA device memory. Copies and sets are queued on the given stream and
// not waited for; every CUDA result goes through the CUDA check.
#pragma once

#include <memory>

#include "module/engine/buffer.h"

namespace krell::det {

class NvGPUBuffer : public Buffer {
public:
    //! An empty buffer (no memory, size 0), to be filled by load().
    NvGPUBuffer() = default;
    //! Owns size bytes from cudaMalloc (uninitialised). Size 0 is reported; a failed allocation
    //! is logged and leaves an empty buffer (null data, size 0).
    explicit NvGPUBuffer(uint32_t size);
    //! Borrows size bytes of device memory at data.
    NvGPUBuffer(void* data, uint32_t size);
    //! Frees owned memory (cudaFree waits for queued work first).
    ~NvGPUBuffer() override;

    using Buffer::copyFrom;
    using Buffer::copyTo;

    //! A new owning host buffer holding a copy of the bytes (complete on return).
    std::shared_ptr<Buffer> toCPU() override;
    std::shared_ptr<Buffer> sub(int32_t start, int32_t size) override;
    bool setOne(cudaStream_t stream) override;
    bool setZero(cudaStream_t stream) override;
    //! Accepts NvGPUToNvGPU, NvGPUToCPU and NvGPUToNvCPU.
    bool copyTo(void* dst, uint32_t size, uint32_t srcOffset, uint32_t dstOffset, TransferKind kind,
                cudaStream_t stream) override;
    //! Accepts NvGPUToNvGPU, CPUToNvGPU and NvCPUToNvGPU.
    bool copyFrom(const void* src, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                  TransferKind kind, cudaStream_t stream) override;
    //! Downloads on the default stream, waits, then writes the file.
    bool save(const std::string& path) override;
    //! Reads the file into host memory, allocates device memory and uploads on the default stream.
    bool load(const std::string& path) override;
};

}  // namespace krell::det
