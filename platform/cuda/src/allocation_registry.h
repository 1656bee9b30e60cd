// The live allocations of the host CUDA stand-in. "Device" memory is host heap memory here, so
// only this record tells a device pointer from a host one; every copy, set and TensorRT binding
// is checked against it the way a GPU's address space would check it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

namespace krell::cuda_host {

//! Where a byte range [p, p + bytes) lies.
enum class RangeKind {
    kHost,         //!< outside every device allocation (plain or pinned host memory)
    kDevice,       //!< wholly inside one live device allocation
    kOutOfBounds,  //!< starts inside a device allocation (or its padding) but runs past its end
};

//! Process-wide; every member may be called from any thread.
class AllocationRegistry {
public:
    //! The one registry (never destroyed: streams may still check ranges during exit).
    static AllocationRegistry& instance();

    //! Records a block from cudaMalloc (device) or cudaMallocHost (pinned host memory): bytes
    //! asked for, reserved (>= bytes) actually set aside by the allocator.
    void add(const void* base, std::size_t bytes, std::size_t reserved, bool device);
    //! Forgets the block that starts at base; false when base starts no live block of that kind.
    bool remove(const void* base, bool device);
    //! Classifies [p, p + bytes); a range of 0 bytes is classified by p alone.
    RangeKind classify(const void* p, std::size_t bytes) const;

private:
    struct Block {
        std::size_t bytes;
        std::size_t reserved;
        bool device;
    };

    mutable std::mutex mutex_;                // guards blocks_
    std::map<std::uintptr_t, Block> blocks_;  // by base address
};

//! Classifies a range against the process-wide registry (what the TensorRT stand-in checks
//! bindings with). Any thread.
RangeKind classifyRange(const void* p, std::size_t bytes);

}  // namespace krell::cuda_host
