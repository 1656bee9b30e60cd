// Buffer: a fixed-size block of bytes in one memory space (host or GPU), held by shared
// ownership. Copies name their direction with a TransferKind and run on a CUDA stream (host
// buffers ignore the stream). Failed checks write one level-1 line, copy nothing and return
// false. Buffers carry no lock: one thread uses a buffer at a time, and GPU work is ordered by
// the stream it is issued on.
#pragma once

#include <cuda_runtime_api.h>

#include <cstdint>
#include <memory>
#include <string>

#include "module/engine/transfer_kind.h"

namespace krell::det {

class Buffer {
public:
    virtual ~Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    //! A host buffer with this buffer's bytes (a view for host buffers, a copy for GPU buffers).
    virtual std::shared_ptr<Buffer> toCPU() = 0;
    //! A borrowed view of size bytes from start; null (after a message) when the range leaves
    //! this buffer. The view does not keep this buffer alive.
    virtual std::shared_ptr<Buffer> sub(int32_t start, int32_t size) = 0;
    //! Sets every byte to 0xFF.
    virtual bool setOne(cudaStream_t stream) = 0;
    //! Sets every byte to 0.
    virtual bool setZero(cudaStream_t stream) = 0;
    //! Copies size bytes from this buffer at srcOffset to dst + dstOffset. Refused when size or
    //! srcOffset + size exceeds this buffer, or the kind does not fit the class.
    virtual bool copyTo(void* dst, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                        TransferKind kind, cudaStream_t stream) = 0;
    //! Whole-buffer copy into dst; refused (and reported) when the sizes differ or dst is null.
    virtual bool copyTo(const std::shared_ptr<Buffer>& dst, TransferKind kind, cudaStream_t stream);
    //! Whole-buffer copy to raw memory, which must hold size() bytes.
    virtual bool copyTo(void* dst, TransferKind kind, cudaStream_t stream);
    //! Copies size bytes from src + srcOffset into this buffer at dstOffset. Refused when size or
    //! dstOffset + size exceeds this buffer, or the kind does not fit the class.
    virtual bool copyFrom(const void* src, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                          TransferKind kind, cudaStream_t stream) = 0;
    //! Whole-buffer copy from src; refused (and reported) when the sizes differ or src is null.
    virtual bool copyFrom(const std::shared_ptr<Buffer>& src, TransferKind kind,
                          cudaStream_t stream);
    //! Whole-buffer copy from raw memory, which must hold size() bytes.
    virtual bool copyFrom(const void* src, TransferKind kind, cudaStream_t stream);
    //! Writes the bytes to path (truncating). False when the file cannot be written.
    virtual bool save(const std::string& path) = 0;
    //! Fills an empty buffer with the whole file at path. False (buffer unchanged) on a
    //! non-empty buffer or an unreadable file.
    virtual bool load(const std::string& path) = 0;

    //! Exchanges the memory (and whether it is owned) with other, which must be of the same
    //! class and size and a different object: what one held is then read through the other,
    //! without a copy. False, with nothing changed, otherwise. Work queued on either memory must
    //! be finished, since holders of the raw pointers are not told.
    bool swapStorage(Buffer& other);

    void* data() const { return data_; }
    uint32_t size() const { return size_; }
    bool borrowed() const { return borrowed_; }

protected:
    //! Reports a zero size (the buffer is still made).
    Buffer(bool borrowed, uint32_t size, void* data);
    //! For buffers created empty, to be filled by load().
    Buffer() = default;

    //! Shared range rules of sub(): true when [start, start + size) lies inside this buffer.
    bool validSubRange(int32_t start, int32_t size) const;
    //! Shared checks of the raw copies: size and offset + size against this buffer. prefix is
    //! "[Class][copyTo]" or "[Class][copyFrom]".
    bool checkRawCopy(const char* prefix, const void* other, uint32_t size, uint32_t offset) const;
    //! Reads a whole file; reports "<prefix> ..." lines naming the path on failure.
    static bool readFile(const char* prefix, const std::string& path,
                         std::unique_ptr<uint8_t[]>& bytes, uint32_t& length);
    //! Writes length bytes to path; reports on failure.
    static bool writeFile(const char* prefix, const std::string& path, const void* bytes,
                          uint32_t length);

    bool borrowed_ = false;
    uint32_t size_ = 0;
    void* data_ = nullptr;
};

}  // namespace krell::det
