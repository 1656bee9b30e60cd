#include "module/engine/nvidia/nv_gpu_buffer.h"

#include "module/common/log.h"
#include "module/engine/cpu_buffer.h"
#include "module/engine/nvidia/cuda_check.h"

namespace krell::det {

NvGPUBuffer::NvGPUBuffer(uint32_t size) : Buffer(false, size, nullptr) {
    if (!DET_CUDA_CHECK(cudaMalloc(&data_, size))) {
        data_ = nullptr;
        size_ = 0;  // no memory: every later copy is refused by the size checks
    }
}

NvGPUBuffer::NvGPUBuffer(void* data, uint32_t size) : Buffer(true, size, data) {}

NvGPUBuffer::~NvGPUBuffer() {
    if (!borrowed_ && data_ != nullptr) {
        DET_CUDA_CHECK(cudaFree(data_));
    }
}

std::shared_ptr<Buffer> NvGPUBuffer::toCPU() {
    auto host = std::make_shared<CPUBuffer>(size_);
    copyTo(host, TransferKind::NvGPUToCPU, nullptr);
    // The caller reads the copy at once; on a GPU the default-stream copy may still be running.
    DET_CUDA_CHECK(cudaStreamSynchronize(nullptr));
    return host;
}

std::shared_ptr<Buffer> NvGPUBuffer::sub(int32_t start, int32_t size) {
    if (!validSubRange(start, size)) {
        DET_LOG(kLogError) << "[NvGPUBuffer][sub] start position " << start << " or size " << size
                           << " is wrong, the total size is " << size_ << kLogReset;
        return nullptr;
    }
    return std::make_shared<NvGPUBuffer>(static_cast<uint8_t*>(data_) + start,
                                         static_cast<uint32_t>(size));
}

bool NvGPUBuffer::setOne(cudaStream_t stream) {
    return size_ == 0 || DET_CUDA_CHECK(cudaMemsetAsync(data_, 255, size_, stream));
}

bool NvGPUBuffer::setZero(cudaStream_t stream) {
    return size_ == 0 || DET_CUDA_CHECK(cudaMemsetAsync(data_, 0, size_, stream));
}

bool NvGPUBuffer::copyTo(void* dst, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                         TransferKind kind, cudaStream_t stream) {
    if (!checkRawCopy("[NvGPUBuffer][copyTo]", dst, size, srcOffset)) {
        return false;
    }
    cudaMemcpyKind direction;
    if (kind == TransferKind::NvGPUToNvGPU) {
        direction = cudaMemcpyDeviceToDevice;
    } else if (kind == TransferKind::NvGPUToCPU || kind == TransferKind::NvGPUToNvCPU) {
        direction = cudaMemcpyDeviceToHost;
    } else {
        DET_LOG(kLogError) << "[NvGPUBuffer][copyTo] NvGPUBuffer does not support "
                           << transferKindName(kind) << kLogReset;
        return false;
    }
    if (size == 0) {
        return true;
    }
    return DET_CUDA_CHECK(cudaMemcpyAsync(static_cast<uint8_t*>(dst) + dstOffset,
                                          static_cast<const uint8_t*>(data_) + srcOffset, size,
                                          direction, stream));
}

bool NvGPUBuffer::copyFrom(const void* src, uint32_t size, uint32_t srcOffset, uint32_t dstOffset,
                           TransferKind kind, cudaStream_t stream) {
    if (!checkRawCopy("[NvGPUBuffer][copyFrom]", src, size, dstOffset)) {
        return false;
    }
    cudaMemcpyKind direction;
    if (kind == TransferKind::NvGPUToNvGPU) {
        direction = cudaMemcpyDeviceToDevice;
    } else if (kind == TransferKind::CPUToNvGPU || kind == TransferKind::NvCPUToNvGPU) {
        direction = cudaMemcpyHostToDevice;
    } else {
        DET_LOG(kLogError) << "[NvGPUBuffer][copyFrom] NvGPUBuffer does not support "
                           << transferKindName(kind) << kLogReset;
        return false;
    }
    if (size == 0) {
        return true;
    }
    return DET_CUDA_CHECK(cudaMemcpyAsync(static_cast<uint8_t*>(data_) + dstOffset,
                                          static_cast<const uint8_t*>(src) + srcOffset, size,
                                          direction, stream));
}

bool NvGPUBuffer::save(const std::string& path) {
    CPUBuffer host(size_);
    if (size_ > 0) {
        copyTo(host.data(), TransferKind::NvGPUToCPU, nullptr);
        DET_CUDA_CHECK(cudaStreamSynchronize(nullptr));
    }
    return writeFile("[NvGPUBuffer][save]", path, host.data(), size_);
}

bool NvGPUBuffer::load(const std::string& path) {
    if (data_ != nullptr || size_ != 0) {
        DET_LOG(kLogError) << "[NvGPUBuffer][load] load function is only support for empty buffer!"
                           << kLogReset;
        return false;
    }
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t length = 0;
    if (!readFile("[NvGPUBuffer][load]", path, bytes, length)) {
        return false;
    }
    if (length == 0) {
        return true;
    }
    void* device = nullptr;
    if (!DET_CUDA_CHECK(cudaMalloc(&device, length))) {
        return false;
    }
    data_ = device;
    size_ = length;
    borrowed_ = false;
    auto host = std::make_shared<CPUBuffer>(bytes.get(), length);
    const bool copied = copyFrom(host, TransferKind::CPUToNvGPU, nullptr);
    // The host bytes die with this call; the upload must have read them by then.
    DET_CUDA_CHECK(cudaStreamSynchronize(nullptr));
    return copied;
}

}  // namespace krell::det
