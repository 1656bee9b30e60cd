// BufferVector1d: an ordered group of buffers with a table of their data pointers, the form in
// which TensorRT receives its bindings.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "module/engine/buffer.h"

namespace krell::det {

class BufferVector1d {
public:
    //! count empty element slots, to be filled by the owner.
    explicit BufferVector1d(uint32_t count) : elements_(count) {}
    virtual ~BufferVector1d() = default;

    //! Allocates the pointer table in the memory its consumer reads.
    virtual void mallocCustomizedPtrs() = 0;
    //! Copies the host pointer table into the customized table.
    virtual void uploadPtrs() = 0;

    //! Builds the host table of the elements' data pointers, in element order (an empty slot
    //! gives a null entry). Call again after replacing elements.
    void buildCpuPtrs();
    //! The host pointer table; null (after a message) when there are no elements or the table
    //! has not been built.
    void** cpu_ptrs();

    //! The member buffers; the owner appends or replaces them before building the tables.
    std::vector<std::shared_ptr<Buffer>>& elements() { return elements_; }
    const std::vector<std::shared_ptr<Buffer>>& elements() const { return elements_; }
    size_t size() const { return elements_.size(); }
    //! The customized table, or null before mallocCustomizedPtrs().
    std::shared_ptr<Buffer> customizedPtrs() const { return customized_ptrs_; }

protected:
    std::shared_ptr<Buffer> cpu_ptrs_;
    std::shared_ptr<Buffer> customized_ptrs_;
    std::vector<std::shared_ptr<Buffer>> elements_;
};

}  // namespace krell::det
