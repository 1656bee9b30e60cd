// CPUBuffer: a buffer in host memory, owning its allocation or borrowing someone else's.
#pragma once

#include <memory>

#include "module/engine/buffer.h"

namespace krell::det {

class CPUBuffer : public Buffer {
public:
    //! An empty buffer (no memory, size 0), to be filled by load().
    CPUBuffer() = default;
    //! Owns size fresh bytes (uninitialised). Size 0 is reported. Throws std::bad_alloc.
    explicit CPUBuffer(uint32_t size);
    //! Borrows size bytes at data; the owner keeps them alive while this buffer is used.
    CPUBuffer(void* data, uint32_t size);

    using Buffer::copyFrom;
    using Buffer::copyTo;

    //! A borrowed view over this buffer's memory (no copy).
    std::shared_ptr<Buffer> toCPU() override;
    std::shared_ptr<Buffer> sub(int32_t start, int32_t size) override;
    bool setOne(cudaStream_t stream) override;
    bool setZero(cudaStream_t stream) override;
    //! Only CPUToCPU is accepted.
    bool copyTo(void* dst, uint32_t size, uint32_t srcOffset, uint32_t dstOffset, TransferKind kind,
                cudaStream_t stream) override;
    //! Only CPUToCPU is accepted.
    bool copyFrom(const void* src, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                  TransferKind kind, cudaStream_t stream) override;
    bool save(const std::string& path) override;
    bool load(const std::string& path) override;

private:
    std::unique_ptr<uint8_t[]> owned_;
};

}  // namespace krell::det
