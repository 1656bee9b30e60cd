#include "module/engine/buffer.h"

#include <fstream>
#include <limits>
#include <typeinfo>
#include <utility>

#include "module/common/log.h"

namespace krell::det {

Buffer::Buffer(bool borrowed, uint32_t size, void* data)
    : borrowed_(borrowed), size_(size), data_(data) {
    if (size == 0) {
        DET_LOG(kLogError) << "[Buffer][constructor] Error, buffer size is zero!" << kLogReset;
    }
}

bool Buffer::swapStorage(Buffer& other) {
    if (&other == this || typeid(other) != typeid(*this) || other.size_ != size_) {
        return false;
    }
    std::swap(data_, other.data_);
    std::swap(borrowed_, other.borrowed_);
    return true;
}

bool Buffer::copyTo(const std::shared_ptr<Buffer>& dst, TransferKind kind, cudaStream_t stream) {
    if (!dst) {
        DET_LOG(kLogError) << "[Buffer][copyTo] the buffer to be copied is null" << kLogReset;
        return false;
    }
    if (dst->size() != size_) {
        DET_LOG(kLogError) << "[Buffer][copyTo] the buffer size to be copied " << dst->size()
                           << " is not equal to the total size " << size_ << kLogReset;
        return false;
    }
    return copyTo(dst->data(), size_, 0, 0, kind, stream);
}

bool Buffer::copyTo(void* dst, TransferKind kind, cudaStream_t stream) {
    return copyTo(dst, size_, 0, 0, kind, stream);
}

bool Buffer::copyFrom(const std::shared_ptr<Buffer>& src, TransferKind kind, cudaStream_t stream) {
    if (!src) {
        DET_LOG(kLogError) << "[Buffer][copyFrom] the buffer to be copied is null" << kLogReset;
        return false;
    }
    if (src->size() != size_) {
        DET_LOG(kLogError) << "[Buffer][copyFrom] the buffer size to be copied " << src->size()
                           << " is not equal to the total size " << size_ << kLogReset;
        return false;
    }
    return copyFrom(src->data(), size_, 0, 0, kind, stream);
}

bool Buffer::copyFrom(const void* src, TransferKind kind, cudaStream_t stream) {
    return copyFrom(src, size_, 0, 0, kind, stream);
}

bool Buffer::validSubRange(int32_t start, int32_t size) const {
    // 64-bit sums: a start near INT32_MAX must not wrap into range; negative values never fit.
    const int64_t total = size_;
    return start >= 0 && size >= 0 && start < total && static_cast<int64_t>(start) + size <= total;
}

bool Buffer::checkRawCopy(const char* prefix, const void* other, uint32_t size,
                          uint32_t offset) const {
    if (size > size_) {
        DET_LOG(kLogError) << prefix << " the buffer size to be copied " << size
                           << " exceeds the total size " << size_ << kLogReset;
        return false;
    }
    if (static_cast<uint64_t>(offset) + size > size_) {
        DET_LOG(kLogError) << prefix << " the offset " << offset << " plus the size " << size
                           << " exceeds the total size " << size_ << kLogReset;
        return false;
    }
    if (size > 0 && other == nullptr) {
        DET_LOG(kLogError) << prefix << " the memory to be copied is null" << kLogReset;
        return false;
    }
    return true;
}

bool Buffer::readFile(const char* prefix, const std::string& path,
                      std::unique_ptr<uint8_t[]>& bytes, uint32_t& length) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        DET_LOG(kLogError) << prefix << " can not open file " << path << kLogReset;
        return false;
    }
    const std::streamoff end = file.tellg();
    if (end < 0 || static_cast<uint64_t>(end) > std::numeric_limits<uint32_t>::max()) {
        DET_LOG(kLogError) << prefix << " can not take the length of file " << path << kLogReset;
        return false;
    }
    length = static_cast<uint32_t>(end);
    bytes.reset(new uint8_t[length == 0 ? 1 : length]);
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(length))) {
        DET_LOG(kLogError) << prefix << " can not read file " << path << kLogReset;
        return false;
    }
    return true;
}

bool Buffer::writeFile(const char* prefix, const std::string& path, const void* bytes,
                       uint32_t length) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        DET_LOG(kLogError) << prefix << " can not open file " << path << kLogReset;
        return false;
    }
    if (length > 0) {
        file.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(length));
    }
    file.close();
    if (!file) {
        DET_LOG(kLogError) << prefix << " can not write file " << path << kLogReset;
        return false;
    }
    return true;
}

}  // namespace krell::det
