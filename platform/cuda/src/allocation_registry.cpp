#include "platform/cuda/src/allocation_registry.h"

namespace krell::cuda_host {

AllocationRegistry& AllocationRegistry::instance() {
    static AllocationRegistry* registry = new AllocationRegistry;
    return *registry;
}

void AllocationRegistry::add(const void* base, std::size_t bytes, std::size_t reserved,
                             bool device) {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[reinterpret_cast<std::uintptr_t>(base)] = Block{bytes, reserved, device};
}

bool AllocationRegistry::remove(const void* base, bool device) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = blocks_.find(reinterpret_cast<std::uintptr_t>(base));
    if (it == blocks_.end() || it->second.device != device) {
        return false;
    }
    blocks_.erase(it);
    return true;
}

RangeKind AllocationRegistry::classify(const void* p, std::size_t bytes) const {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = blocks_.upper_bound(address);
    if (it == blocks_.begin()) {
        return RangeKind::kHost;
    }
    --it;
    const std::uintptr_t offset = address - it->first;
    if (!it->second.device || offset >= it->second.reserved) {
        return RangeKind::kHost;
    }
    if (offset >= it->second.bytes) {
        // The allocator's padding: no allocation of the caller's covers it.
        return RangeKind::kOutOfBounds;
    }
    return bytes <= it->second.bytes - offset ? RangeKind::kDevice : RangeKind::kOutOfBounds;
}

RangeKind classifyRange(const void* p, std::size_t bytes) {
    return AllocationRegistry::instance().classify(p, bytes);
}

}  // namespace krell::cuda_host
