#include <gtest/gtest.h>
#include <unistd.h>

#include <cuda_runtime_api.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "module/engine/cpu_buffer.h"
#include "module/engine/nvidia/cuda_check.h"
#include "module/engine/nvidia/nv_gpu_buffer.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

std::vector<uint8_t> bytesOf(Buffer& buffer) {
    std::shared_ptr<Buffer> host = buffer.toCPU();
    const auto* data = static_cast<const uint8_t*>(host->data());
    return std::vector<uint8_t>(data, data + host->size());
}

std::vector<uint8_t> sequence(size_t count, uint8_t first) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

std::string tempPath(const std::string& name) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return (std::filesystem::temp_directory_path() /
            ("det_buffer_" + std::to_string(::getpid()) + "_" + info->name() + "_" + name))
        .string();
}

template <class B>
class BufferKinds : public testing::Test {};
using BufferTypes = testing::Types<CPUBuffer, NvGPUBuffer>;
TYPED_TEST_SUITE(BufferKinds, BufferTypes);

}  // namespace

TYPED_TEST(BufferKinds, SubRange_AcceptsInsideAndRefusesOutsideWithNullView) {
    TypeParam buffer(16);
    std::shared_ptr<Buffer> last = buffer.sub(15, 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->data(), static_cast<uint8_t*>(buffer.data()) + 15);
    EXPECT_EQ(last->size(), 1U);
    EXPECT_TRUE(last->borrowed());
    EXPECT_TRUE(dynamic_cast<TypeParam*>(last.get()) != nullptr);

    const std::string prefix =
        std::is_same_v<TypeParam, CPUBuffer> ? "[CPUBuffer][sub]" : "[NvGPUBuffer][sub]";
    const std::pair<int32_t, int32_t> refused[] = {
        {16, 0}, {8, 9}, {-1, 1}, {0, -1}, {INT32_MAX, 1}};
    for (const auto& [start, size] : refused) {
        std::shared_ptr<Buffer> view;
        const std::string out = captureStdout([&] { view = buffer.sub(start, size); });
        EXPECT_FALSE(view) << start << "+" << size;
        EXPECT_EQ(messageOf(out), prefix + " start position " + std::to_string(start) +
                                      " or size " + std::to_string(size) +
                                      " is wrong, the total size is 16\x1b[0m\n");
    }
}

TYPED_TEST(BufferKinds, WholeBufferCopyOfOtherSize_IsReportedAndLeavesDestination) {
    TypeParam dst(16);
    dst.setZero(nullptr);
    auto src = std::make_shared<TypeParam>(12);
    src->setOne(nullptr);
    const TransferKind kind =
        std::is_same_v<TypeParam, CPUBuffer> ? TransferKind::CPUToCPU : TransferKind::NvGPUToNvGPU;
    std::string out = captureStdout([&] { EXPECT_FALSE(dst.copyFrom(src, kind, nullptr)); });
    EXPECT_EQ(messageOf(out),
              "[Buffer][copyFrom] the buffer size to be copied 12 is not equal to the total size "
              "16\x1b[0m\n");
    out = captureStdout(
        [&] { EXPECT_FALSE(dst.copyTo(std::shared_ptr<Buffer>(src), kind, nullptr)); });
    EXPECT_EQ(messageOf(out),
              "[Buffer][copyTo] the buffer size to be copied 12 is not equal to the total size "
              "16\x1b[0m\n");
    EXPECT_EQ(bytesOf(dst), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(bytesOf(*src), std::vector<uint8_t>(12, 0xFF));
}

TYPED_TEST(BufferKinds, RawCopyLeavingEitherSide_IsRefusedWithoutTouchingMemory) {
    TypeParam buffer(8);
    buffer.setZero(nullptr);
    std::vector<uint8_t> host = sequence(8, 1);
    const TransferKind in =
        std::is_same_v<TypeParam, CPUBuffer> ? TransferKind::CPUToCPU : TransferKind::CPUToNvGPU;
    const TransferKind out =
        std::is_same_v<TypeParam, CPUBuffer> ? TransferKind::CPUToCPU : TransferKind::NvGPUToCPU;
    const std::string name = std::is_same_v<TypeParam, CPUBuffer> ? "[CPUBuffer]" : "[NvGPUBuffer]";
    std::string log =
        captureStdout([&] { EXPECT_FALSE(buffer.copyFrom(host.data(), 9, 0, 0, in, nullptr)); });
    EXPECT_EQ(messageOf(log),
              name + "[copyFrom] the buffer size to be copied 9 exceeds the total size 8\x1b[0m\n");
    log = captureStdout([&] { EXPECT_FALSE(buffer.copyFrom(host.data(), 4, 0, 5, in, nullptr)); });
    EXPECT_EQ(messageOf(log),
              name + "[copyFrom] the offset 5 plus the size 4 exceeds the total size 8\x1b[0m\n");
    log = captureStdout(
        [&] { EXPECT_FALSE(buffer.copyTo(host.data(), 2, UINT32_MAX, 0, out, nullptr)); });
    EXPECT_NE(log.find(name + "[copyTo] the offset 4294967295 plus the size 2 exceeds"),
              std::string::npos)
        << log;
    EXPECT_EQ(bytesOf(buffer), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(host, sequence(8, 1));

    // Offsets inside both memories apply to the side they name.
    EXPECT_TRUE(buffer.copyFrom(host.data(), 3, 2, 4, in, nullptr));
    std::vector<uint8_t> back(8, 0xEE);
    EXPECT_TRUE(buffer.copyTo(back.data(), 3, 4, 1, out, nullptr));
    EXPECT_EQ(cudaStreamSynchronize(nullptr), cudaSuccess);
    EXPECT_EQ(bytesOf(buffer), (std::vector<uint8_t>{0, 0, 0, 0, 3, 4, 5, 0}));
    EXPECT_EQ(back, (std::vector<uint8_t>{0xEE, 3, 4, 5, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TYPED_TEST(BufferKinds, SetOne_FillsBytesWith0xFFNotTheValueOne) {
    TypeParam buffer(4 * sizeof(float));
    buffer.setOne(nullptr);
    std::vector<uint8_t> bytes = bytesOf(buffer);
    EXPECT_EQ(bytes, std::vector<uint8_t>(16, 0xFF));
    float first = 0.0F;
    std::memcpy(&first, bytes.data(), sizeof(first));
    EXPECT_TRUE(std::isnan(first));
    buffer.setZero(nullptr);
    EXPECT_EQ(bytesOf(buffer), std::vector<uint8_t>(16, 0));
}

TYPED_TEST(BufferKinds, SaveThenLoad_RoundTripsAndLoadRefusesFilledBuffer) {
    const std::string path = tempPath("blob.bin");
    std::vector<uint8_t> content = sequence(300, 7);
    auto source =
        std::make_shared<CPUBuffer>(content.data(), static_cast<uint32_t>(content.size()));
    TypeParam original(300);
    const TransferKind up =
        std::is_same_v<TypeParam, CPUBuffer> ? TransferKind::CPUToCPU : TransferKind::CPUToNvGPU;
    ASSERT_TRUE(original.copyFrom(source, up, nullptr));
    ASSERT_TRUE(original.save(path));

    TypeParam loaded;
    ASSERT_TRUE(loaded.load(path));
    EXPECT_EQ(loaded.size(), 300U);
    EXPECT_FALSE(loaded.borrowed());
    EXPECT_EQ(bytesOf(loaded), content);

    const std::string name = std::is_same_v<TypeParam, CPUBuffer> ? "[CPUBuffer]" : "[NvGPUBuffer]";
    const std::string out = captureStdout([&] { EXPECT_FALSE(original.load(path)); });
    EXPECT_EQ(messageOf(out),
              name + "[load] load function is only support for empty buffer!\x1b[0m\n");
    std::remove(path.c_str());
}

TYPED_TEST(BufferKinds, LoadOfMissingFile_NamesPathAndStaysEmpty) {
    const std::string path = tempPath("absent.bin");
    TypeParam buffer;
    const std::string out = captureStdout([&] { EXPECT_FALSE(buffer.load(path)); });
    const std::string name = std::is_same_v<TypeParam, CPUBuffer> ? "[CPUBuffer]" : "[NvGPUBuffer]";
    EXPECT_EQ(messageOf(out), name + "[load] can not open file " + path + "\x1b[0m\n");
    EXPECT_EQ(buffer.size(), 0U);
    EXPECT_EQ(buffer.data(), nullptr);
}

TYPED_TEST(BufferKinds, ZeroSizeConstruction_IsReportedAndUsable) {
    std::unique_ptr<TypeParam> buffer;
    const std::string out = captureStdout([&] { buffer = std::make_unique<TypeParam>(0); });
    EXPECT_EQ(messageOf(out), "[Buffer][constructor] Error, buffer size is zero!\x1b[0m\n");
    EXPECT_EQ(buffer->size(), 0U);
    EXPECT_TRUE(buffer->setOne(nullptr));
}

TEST(CPUBuffer, OnlyHostToHostKind_IsAccepted) {
    CPUBuffer buffer(4);
    buffer.setZero(nullptr);
    uint8_t other[4] = {1, 2, 3, 4};
    const std::string out =
        captureStdout([&] { buffer.copyFrom(other, 4, 0, 0, TransferKind::CPUToNvGPU, nullptr); });
    EXPECT_EQ(messageOf(out),
              "[CPUBuffer][copyFrom] CPUBuffer does not support CPUToNvGPU\x1b[0m\n");
    for (int32_t kind = 0; kind <= 12; ++kind) {
        if (kind == static_cast<int32_t>(TransferKind::CPUToCPU)) {
            continue;
        }
        captureStdout([&] {
            EXPECT_FALSE(buffer.copyFrom(other, 4, 0, 0, static_cast<TransferKind>(kind), nullptr))
                << kind;
            EXPECT_FALSE(buffer.copyTo(other, 4, 0, 0, static_cast<TransferKind>(kind), nullptr))
                << kind;
        });
    }
    EXPECT_EQ(bytesOf(buffer), std::vector<uint8_t>(4, 0));
    EXPECT_TRUE(buffer.copyFrom(other, TransferKind::CPUToCPU, nullptr));
    EXPECT_EQ(bytesOf(buffer), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(CPUBuffer, ToCPU_IsAViewSharingMemory) {
    CPUBuffer buffer(4);
    buffer.setZero(nullptr);
    std::shared_ptr<Buffer> view = buffer.toCPU();
    EXPECT_TRUE(view->borrowed());
    static_cast<uint8_t*>(view->data())[2] = 9;
    EXPECT_EQ(static_cast<uint8_t*>(buffer.data())[2], 9);
}

TEST(NvGPUBuffer, KindsByDirection_AcceptedAndRefusedAsDocumented) {
    NvGPUBuffer gpu(4);
    std::vector<uint8_t> host = {5, 6, 7, 8};
    // Device-to-device kinds get device memory on the other side, as a GPU would require.
    NvGPUBuffer other_gpu(4);
    ASSERT_TRUE(other_gpu.copyFrom(host.data(), TransferKind::CPUToNvGPU, nullptr));
    const TransferKind in_ok[] = {TransferKind::CPUToNvGPU, TransferKind::NvCPUToNvGPU,
                                  TransferKind::NvGPUToNvGPU};
    const TransferKind out_ok[] = {TransferKind::NvGPUToCPU, TransferKind::NvGPUToNvCPU,
                                   TransferKind::NvGPUToNvGPU};
    for (int32_t value = 0; value <= 12; ++value) {
        const auto kind = static_cast<TransferKind>(value);
        const bool device_side = kind == TransferKind::NvGPUToNvGPU;
        const bool accept_in =
            std::find(std::begin(in_ok), std::end(in_ok), kind) != std::end(in_ok);
        const bool accept_out =
            std::find(std::begin(out_ok), std::end(out_ok), kind) != std::end(out_ok);
        NvGPUBuffer device_sink(4);
        device_sink.setZero(nullptr);
        std::vector<uint8_t> sink(4, 0);
        gpu.setZero(nullptr);
        const std::string log = captureStdout([&] {
            EXPECT_EQ(gpu.copyFrom(device_side ? other_gpu.data() : host.data(), kind, nullptr),
                      accept_in)
                << value;
            EXPECT_EQ(gpu.copyTo(device_side ? device_sink.data() : sink.data(), kind, nullptr),
                      accept_out)
                << value;
        });
        EXPECT_EQ((device_side ? bytesOf(device_sink) : sink) == host, accept_out && accept_in)
            << value;
        if (!accept_in) {
            EXPECT_NE(
                log.find(std::string("[NvGPUBuffer][copyFrom] NvGPUBuffer does not support ") +
                         transferKindName(kind) + "\x1b[0m"),
                std::string::npos)
                << log;
        }
        if (!accept_out) {
            EXPECT_NE(log.find(std::string("[NvGPUBuffer][copyTo] NvGPUBuffer does not support ") +
                               transferKindName(kind) + "\x1b[0m"),
                      std::string::npos)
                << log;
        }
    }
}

TEST(NvGPUBuffer, SwapStorage_ExchangesMemoryAndOwnershipOnlyBetweenLikeBuffers) {
    auto first = std::make_shared<NvGPUBuffer>(4);
    NvGPUBuffer second(4);
    const std::vector<uint8_t> a = {1, 2, 3, 4};
    const std::vector<uint8_t> b = {9, 8, 7, 6};
    ASSERT_TRUE(first->copyFrom(a.data(), TransferKind::CPUToNvGPU, nullptr));
    ASSERT_TRUE(second.copyFrom(b.data(), TransferKind::CPUToNvGPU, nullptr));
    void* const first_memory = first->data();
    ASSERT_TRUE(first->swapStorage(second));
    EXPECT_EQ(second.data(), first_memory);
    EXPECT_EQ(bytesOf(*first), b);
    EXPECT_EQ(bytesOf(second), a);
    // Each memory is freed once, by the buffer that holds it now; a sanitizer or the stand-in's
    // allocation registry reports a double free or a leak here otherwise.
    first.reset();
    EXPECT_EQ(bytesOf(second), a);

    NvGPUBuffer shorter(2);
    CPUBuffer host(4);
    NvGPUBuffer view(second.data(), 4);
    EXPECT_FALSE(second.swapStorage(shorter));
    EXPECT_FALSE(second.swapStorage(host));
    EXPECT_FALSE(second.swapStorage(second));
    EXPECT_EQ(second.data(), first_memory);
    // A borrowed view may trade places, and then the owner of the memory changes with it.
    ASSERT_TRUE(second.swapStorage(view));
    EXPECT_TRUE(second.borrowed());
    EXPECT_FALSE(view.borrowed());
    EXPECT_EQ(bytesOf(view), a);
}

TEST(NvGPUBuffer, CopiesOnOneStream_RunInIssueOrder) {
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreateWithFlags(&stream, cudaStreamNonBlocking), cudaSuccess);
    constexpr uint32_t kBytes = 655360;
    std::vector<uint8_t> frame = sequence(kBytes, 3);
    std::vector<uint8_t> result(kBytes, 0);
    auto input = std::make_shared<NvGPUBuffer>(kBytes);
    auto state = std::make_shared<NvGPUBuffer>(kBytes);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(input->copyFrom(frame.data(), TransferKind::CPUToNvGPU, stream));
        ASSERT_TRUE(state->copyFrom(input, TransferKind::NvGPUToNvGPU, stream));
        ASSERT_TRUE(input->setZero(stream));
        ASSERT_TRUE(state->copyTo(result.data(), TransferKind::NvGPUToNvCPU, stream));
        ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
        EXPECT_EQ(result, frame);
        EXPECT_EQ(bytesOf(*input), std::vector<uint8_t>(kBytes, 0));
        frame[static_cast<size_t>(round)] ^= 0x5A;
    }
    EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess);
}

TEST(CudaCheck, FailedCall_LogsCodeTextAndCallSiteThenCarriesOn) {
    int line = 0;
    bool ok = true;
    const std::string out = captureStdout([&] {
        ok = DET_CUDA_CHECK(cudaSetDevice(7));
        line = __LINE__ - 1;
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out.rfind("[buffer_test:" + std::to_string(line) + " ", 0), 0U) << out;
    EXPECT_EQ(messageOf(out), "Cuda Runtime Assert: cuda error code 101, invalid device ordinal " +
                                  std::string(__FILE__) + ":" + std::to_string(line) + "\x1b[0m\n");
    EXPECT_EQ(captureStdout([] { EXPECT_TRUE(DET_CUDA_CHECK(cudaSetDevice(0))); }), "");
    cudaGetLastError();
}

}  // namespace krell::det::test
