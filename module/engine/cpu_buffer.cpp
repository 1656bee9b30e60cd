#include "module/engine/cpu_buffer.h"

#include <cstring>

#include "module/common/log.h"

namespace krell::det {

CPUBuffer::CPUBuffer(uint32_t size)
    : Buffer(false, size, nullptr), owned_(size > 0 ? new uint8_t[size] : nullptr) {
    data_ = owned_.get();
}

CPUBuffer::CPUBuffer(void* data, uint32_t size) : Buffer(true, size, data) {}

std::shared_ptr<Buffer> CPUBuffer::toCPU() {
    return std::make_shared<CPUBuffer>(data_, size_);
}

std::shared_ptr<Buffer> CPUBuffer::sub(int32_t start, int32_t size) {
    if (!validSubRange(start, size)) {
        DET_LOG(kLogError) << "[CPUBuffer][sub] start position " << start << " or size " << size
                           << " is wrong, the total size is " << size_ << kLogReset;
        return nullptr;
    }
    return std::make_shared<CPUBuffer>(static_cast<uint8_t*>(data_) + start,
                                       static_cast<uint32_t>(size));
}

bool CPUBuffer::setOne(cudaStream_t /*stream*/) {
    if (size_ > 0) {
        std::memset(data_, 0xFF, size_);
    }
    return true;
}

bool CPUBuffer::setZero(cudaStream_t /*stream*/) {
    if (size_ > 0) {
        std::memset(data_, 0, size_);
    }
    return true;
}

bool CPUBuffer::copyTo(void* dst, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                       TransferKind kind, cudaStream_t /*stream*/) {
    if (!checkRawCopy("[CPUBuffer][copyTo]", dst, size, srcOffset)) {
        return false;
    }
    if (kind != TransferKind::CPUToCPU) {
        DET_LOG(kLogError) << "[CPUBuffer][copyTo] CPUBuffer does not support "
                           << transferKindName(kind) << kLogReset;
        return false;
    }
    if (size > 0) {
        std::memmove(static_cast<uint8_t*>(dst) + dstOffset,
                     static_cast<const uint8_t*>(data_) + srcOffset, size);
    }
    return true;
}

bool CPUBuffer::copyFrom(const void* src, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                         TransferKind kind, cudaStream_t /*stream*/) {
    if (!checkRawCopy("[CPUBuffer][copyFrom]", src, size, dstOffset)) {
        return false;
    }
    if (kind != TransferKind::CPUToCPU) {
        DET_LOG(kLogError) << "[CPUBuffer][copyFrom] CPUBuffer does not support "
                           << transferKindName(kind) << kLogReset;
        return false;
    }
    if (size > 0) {
        std::memmove(static_cast<uint8_t*>(data_) + dstOffset,
                     static_cast<const uint8_t*>(src) + srcOffset, size);
    }
    return true;
}

bool CPUBuffer::save(const std::string& path) {
    return writeFile("[CPUBuffer][save]", path, data_, size_);
}

bool CPUBuffer::load(const std::string& path) {
    if (data_ != nullptr || size_ != 0) {
        DET_LOG(kLogError) << "[CPUBuffer][load] load function is only support for empty buffer!"
                           << kLogReset;
        return false;
    }
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t length = 0;
    if (!readFile("[CPUBuffer][load]", path, bytes, length)) {
        return false;
    }
    if (length == 0) {
        return true;  // an empty file leaves an empty buffer
    }
    owned_ = std::move(bytes);
    data_ = owned_.get();
    size_ = length;
    borrowed_ = false;
    return true;
}

}  // namespace krell::det
