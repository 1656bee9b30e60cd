// Copies and sets that a GPU would refuse are refused here too, with CUDA's code and nothing
// written: wrong direction, a range past its allocation, host memory where device memory belongs.
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr unsigned char kUntouched = 0x5A;

class DeviceBlock {
public:
    explicit DeviceBlock(std::size_t bytes) {
        EXPECT_EQ(cudaMalloc(&data, bytes), cudaSuccess);
        EXPECT_EQ(cudaMemset(data, kUntouched, bytes), cudaSuccess);
    }
    ~DeviceBlock() { cudaFree(data); }
    DeviceBlock(const DeviceBlock&) = delete;
    DeviceBlock& operator=(const DeviceBlock&) = delete;
    unsigned char* data = nullptr;
};

std::vector<unsigned char> readBack(const unsigned char* device, std::size_t bytes) {
    std::vector<unsigned char> host(bytes, 0);
    EXPECT_EQ(cudaMemcpy(host.data(), device, bytes, cudaMemcpyDeviceToHost), cudaSuccess);
    return host;
}

}  // namespace

TEST(CudaCopyChecks, KindThatContradictsThePointers_IsRefusedAndCopiesNothing) {
    cudaGetLastError();
    DeviceBlock a(64), b(64);
    std::vector<unsigned char> host_src(64, 1), host_dst(64, kUntouched);
    // Host memory on both sides of a device-to-device copy.
    EXPECT_EQ(cudaMemcpy(host_dst.data(), host_src.data(), 64, cudaMemcpyDeviceToDevice),
              cudaErrorInvalidValue);
    EXPECT_EQ(host_dst, std::vector<unsigned char>(64, kUntouched));
    // Device memory as the host side.
    EXPECT_EQ(cudaMemcpy(b.data, a.data, 64, cudaMemcpyDeviceToHost), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(a.data, b.data, 64, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host_dst.data(), a.data, 64, cudaMemcpyHostToHost), cudaErrorInvalidValue);
    // Host memory as the device side.
    EXPECT_EQ(cudaMemcpy(host_dst.data(), host_src.data(), 64, cudaMemcpyHostToDevice),
              cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host_dst.data(), host_src.data(), 64, cudaMemcpyDeviceToHost),
              cudaErrorInvalidValue);
    EXPECT_EQ(host_dst, std::vector<unsigned char>(64, kUntouched));
    EXPECT_EQ(readBack(b.data, 64), std::vector<unsigned char>(64, kUntouched));
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue);
    EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidValue), "invalid argument");
}

TEST(CudaCopyChecks, RangePastTheAllocation_IsRefusedOnEverySide) {
    cudaGetLastError();
    DeviceBlock small(16), large(64);
    std::vector<unsigned char> host(64, kUntouched);
    EXPECT_EQ(cudaMemcpy(host.data(), small.data, 64, cudaMemcpyDeviceToHost),
              cudaErrorInvalidValue);
    EXPECT_EQ(host, std::vector<unsigned char>(64, kUntouched));
    EXPECT_EQ(cudaMemcpy(small.data, host.data(), 17, cudaMemcpyHostToDevice),
              cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(small.data + 8, large.data, 9, cudaMemcpyDeviceToDevice),
              cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemset(small.data + 1, 0, 16), cudaErrorInvalidValue);
    EXPECT_EQ(readBack(small.data, 16), std::vector<unsigned char>(16, kUntouched));
    // The last byte exactly, and an interior slice, are fine.
    EXPECT_EQ(cudaMemcpy(small.data + 15, host.data(), 1, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(large.data + 8, small.data, 16, cudaMemcpyDeviceToDevice), cudaSuccess);
    cudaGetLastError();
}

TEST(CudaCopyChecks, AsyncCopiesAreCheckedBeforeTheyAreQueued) {
    cudaGetLastError();
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
    DeviceBlock small(16);
    std::vector<unsigned char> host(64, kUntouched);
    EXPECT_EQ(cudaMemcpyAsync(host.data(), small.data, 64, cudaMemcpyDeviceToHost, stream),
              cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemsetAsync(host.data(), 0, 64, stream), cudaErrorInvalidValue);
    EXPECT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
    EXPECT_EQ(host, std::vector<unsigned char>(64, kUntouched));
    EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess);
    cudaGetLastError();
}

TEST(CudaCopyChecks, DefaultKind_InfersEachSideFromTheAllocations) {
    cudaGetLastError();
    DeviceBlock a(32), b(32);
    std::vector<unsigned char> host(32, 7), back(32, 0);
    EXPECT_EQ(cudaMemcpy(a.data, host.data(), 32, cudaMemcpyDefault), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(b.data, a.data, 32, cudaMemcpyDefault), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(back.data(), b.data, 32, cudaMemcpyDefault), cudaSuccess);
    EXPECT_EQ(back, host);
    EXPECT_EQ(cudaMemcpy(back.data(), a.data + 16, 32, cudaMemcpyDefault), cudaErrorInvalidValue);
    cudaGetLastError();
}

TEST(CudaCopyChecks, PinnedHostMemory_IsHostMemory) {
    cudaGetLastError();
    unsigned char* pinned = nullptr;
    ASSERT_EQ(cudaMallocHost(&pinned, 32), cudaSuccess);
    DeviceBlock device(32);
    EXPECT_EQ(cudaMemcpy(device.data, pinned, 32, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(pinned, device.data, 32, cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(device.data, pinned, 32, cudaMemcpyDeviceToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemset(pinned, 0, 32), cudaErrorInvalidValue);
    // Each allocation goes back only through its own free call.
    EXPECT_EQ(cudaFree(pinned), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFreeHost(device.data), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFreeHost(pinned), cudaSuccess);
    cudaGetLastError();
}

TEST(CudaCopyChecks, FreedAllocation_IsNoLongerDeviceMemory) {
    cudaGetLastError();
    void* device = nullptr;
    ASSERT_EQ(cudaMalloc(&device, 64), cudaSuccess);
    ASSERT_EQ(cudaFree(device), cudaSuccess);
    std::vector<unsigned char> host(64, kUntouched);
    EXPECT_EQ(cudaMemcpy(device, host.data(), 64, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(static_cast<unsigned char*>(device) + 1), cudaErrorInvalidValue);
    cudaGetLastError();
}
