#include <gtest/gtest.h>

#include <cuda_runtime_api.h>

#include <memory>
#include <vector>

#include "module/engine/cpu_buffer.h"
#include "module/engine/nvidia/nv_gpu_buffer.h"
#include "module/engine/nvidia/nv_gpu_buffer_vector1d.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

TEST(BufferVector1d, PointerTableBeforeBuildOrWithoutElements_IsNullWithMessage) {
    NvGPUBufferVector1d empty(0);
    void** table = reinterpret_cast<void**>(1);
    std::string out = captureStdout([&] { table = empty.cpu_ptrs(); });
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(messageOf(out), "[BufferVector1d] Error, buffer size is zero!\x1b[0m\n");
    out = captureStdout([&] { empty.mallocCustomizedPtrs(); });
    EXPECT_EQ(messageOf(out), "[NvGPUBufferVector1d] Error, buffer size is zero!\x1b[0m\n");
    EXPECT_FALSE(empty.customizedPtrs());

    NvGPUBufferVector1d unbuilt(2);
    out = captureStdout([&] { table = unbuilt.cpu_ptrs(); });
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(messageOf(out), "[BufferVector1d] Error, cpu_ptrs is NULL!\x1b[0m\n");
    // Uploading without tables is refused instead of dereferencing a missing table.
    EXPECT_NE(captureStdout([&] { unbuilt.uploadPtrs(); }), "");
}

TEST(BufferVector1d, BuiltTables_ListElementAddressesInOrderOnBothSides) {
    NvGPUBufferVector1d bindings(0);
    auto first = std::make_shared<NvGPUBuffer>(64);
    auto second = std::make_shared<NvGPUBuffer>(32);
    bindings.elements().push_back(first);
    bindings.elements().push_back(second);
    bindings.elements().push_back(nullptr);
    bindings.buildCpuPtrs();
    bindings.mallocCustomizedPtrs();
    bindings.uploadPtrs();

    void** table = bindings.cpu_ptrs();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[0], first->data());
    EXPECT_EQ(table[1], second->data());
    EXPECT_EQ(table[2], nullptr);

    ASSERT_TRUE(bindings.customizedPtrs());
    ASSERT_EQ(bindings.customizedPtrs()->size(), 3 * sizeof(void*));
    std::vector<void*> device_table(3, nullptr);
    ASSERT_TRUE(
        bindings.customizedPtrs()->copyTo(device_table.data(), TransferKind::NvGPUToCPU, nullptr));
    ASSERT_EQ(cudaStreamSynchronize(nullptr), cudaSuccess);
    EXPECT_EQ(device_table, (std::vector<void*>{first->data(), second->data(), nullptr}));
}

}  // namespace krell::det::test
