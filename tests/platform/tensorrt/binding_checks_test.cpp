// What an execution context accepts as bindings: device allocations large enough for their
// tensors, as on a GPU; and an implicit-batch run of fewer images than the engine was built for.
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/platform/tensorrt/network_harness.h"

namespace trt_test {
namespace {

using nvinfer1::Dims4;
using nvinfer1::DimsHW;

constexpr std::size_t kImageInputs = 3 * 6 * 5;
constexpr std::size_t kImageOutputs = 4 * 6 * 5;

// in (batch x 3 x 6 x 5) -> conv 3->4 3x3 pad 1 + ReLU -> out.
Owned<nvinfer1::ICudaEngine> convEngine(NetworkHarness& h, int batch) {
    auto* conv = h.net().addConvolutionNd(*h.input("in", Dims4(batch, 3, 6, 5)), 4, DimsHW(3, 3),
                                          h.weights(randomValues(4 * 3 * 9, 90)),
                                          h.weights(randomValues(4, 91)));
    conv->setPaddingNd(DimsHW(1, 1));
    h.output(
        h.net().addActivation(*conv->getOutput(0), nvinfer1::ActivationType::kRELU)->getOutput(0),
        "out");
    return h.engine();
}

class CountingErrors : public nvinfer1::IErrorRecorder {
public:
    int32_t getNbErrors() const noexcept override { return static_cast<int32_t>(codes.size()); }
    nvinfer1::ErrorCode getErrorCode(int32_t i) const noexcept override { return codes[i]; }
    ErrorDesc getErrorDesc(int32_t i) const noexcept override { return texts[i].c_str(); }
    bool hasOverflowed() const noexcept override { return false; }
    void clear() noexcept override {
        codes.clear();
        texts.clear();
    }
    bool reportError(nvinfer1::ErrorCode code, ErrorDesc desc) noexcept override {
        codes.push_back(code);
        texts.emplace_back(desc);
        return true;
    }
    RefCount incRefCount() noexcept override { return ++refs; }
    RefCount decRefCount() noexcept override { return --refs; }
    std::vector<nvinfer1::ErrorCode> codes;
    std::vector<std::string> texts;
    RefCount refs{0};
};

bool allBytesAre(const std::vector<float>& values, unsigned char byte) {
    std::vector<unsigned char> bytes(values.size() * sizeof(float));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return std::all_of(bytes.begin(), bytes.end(), [byte](unsigned char b) { return b == byte; });
}

TEST(BindingChecks, HostMemory_IsRefusedByEveryRunCallAndNothingIsWritten) {
    NetworkHarness h;
    auto engine = convEngine(h, 1);
    ASSERT_TRUE(engine) << h.logger().text();
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    CountingErrors errors;
    context->setErrorRecorder(&errors);
    std::vector<float> in = randomValues(kImageInputs, 92), out(kImageOutputs, 0.0F);
    DeviceBuffer device_in(in.size() * sizeof(float)), device_out(out.size() * sizeof(float));
    void* host[] = {in.data(), out.data()};
    void* host_output[] = {device_in.data(), out.data()};
    void* host_input[] = {in.data(), device_out.data()};
    EXPECT_FALSE(context->enqueue(1, host, nullptr, nullptr));
    EXPECT_FALSE(context->enqueueV2(host_output, nullptr, nullptr));
    EXPECT_FALSE(context->executeV2(host_input));
    EXPECT_FALSE(context->execute(1, host));
    ASSERT_EQ(errors.getNbErrors(), 4);
    for (int32_t i = 0; i < errors.getNbErrors(); ++i) {
        EXPECT_EQ(errors.getErrorCode(i), nvinfer1::ErrorCode::kINVALID_ARGUMENT);
        EXPECT_NE(errors.texts[i].find("binding"), std::string::npos) << errors.texts[i];
    }
    EXPECT_EQ(out, std::vector<float>(kImageOutputs, 0.0F));
    EXPECT_TRUE(allBytesAre(device_out.download<float>(), 0xFF));
    context.reset();
}

TEST(BindingChecks, AllocationTooSmallForItsTensor_IsRefused) {
    NetworkHarness h;
    auto engine = convEngine(h, 1);
    ASSERT_TRUE(engine) << h.logger().text();
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    CountingErrors errors;
    context->setErrorRecorder(&errors);
    DeviceBuffer in(kImageInputs * sizeof(float)), out(kImageOutputs * sizeof(float));
    DeviceBuffer short_out(kImageOutputs * sizeof(float) - 1);
    DeviceBuffer big(2 * kImageOutputs * sizeof(float));
    void* too_short[] = {in.data(), short_out.data()};
    void* shifted[] = {static_cast<float*>(in.data()) + 1, out.data()};
    void* interior[] = {in.data(), static_cast<float*>(big.data()) + kImageOutputs};
    EXPECT_FALSE(context->enqueueV2(too_short, nullptr, nullptr));
    EXPECT_FALSE(context->enqueueV2(shifted, nullptr, nullptr));
    EXPECT_EQ(errors.getNbErrors(), 2);
    // A tensor anywhere inside a large enough allocation is fine.
    EXPECT_TRUE(context->enqueueV2(interior, nullptr, nullptr));
    EXPECT_EQ(errors.getNbErrors(), 2);
    context.reset();
}

TEST(BindingChecks, EnqueueV2OnAStream_RunsInStreamOrder) {
    NetworkHarness h;
    auto engine = convEngine(h, 1);
    ASSERT_TRUE(engine) << h.logger().text();
    const std::vector<float> host = randomValues(kImageInputs, 93);
    const std::vector<float> expected = runFloat(*engine, {host}).at(0);
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    DeviceBuffer in(kImageInputs * sizeof(float)), out(kImageOutputs * sizeof(float));
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
    std::vector<float> result(kImageOutputs, -1.0F);
    void* bindings[] = {in.data(), out.data()};
    ASSERT_EQ(cudaMemcpyAsync(in.data(), host.data(), in.bytes(), cudaMemcpyHostToDevice, stream),
              cudaSuccess);
    ASSERT_TRUE(context->enqueueV2(bindings, stream, nullptr));
    ASSERT_EQ(
        cudaMemcpyAsync(result.data(), out.data(), out.bytes(), cudaMemcpyDeviceToHost, stream),
        cudaSuccess);
    ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
    EXPECT_EQ(result, expected);
    cudaStreamDestroy(stream);
}

TEST(ImplicitBatch, EnqueueOfFewerImages_ComputesAndWritesOnlyThose) {
    NetworkHarness h;
    h.builder().setMaxBatchSize(3);
    auto engine = convEngine(h, 3);
    ASSERT_TRUE(engine) << h.logger().text();
    const std::vector<float> images = randomValues(3 * kImageInputs, 94);
    const std::vector<float> all = runFloat(*engine, {images}).at(0);
    ASSERT_EQ(all.size(), 3 * kImageOutputs);
    Owned<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
    for (int32_t batch : {1, 2, 3, 1}) {
        DeviceBuffer in(3 * kImageInputs * sizeof(float)), out(3 * kImageOutputs * sizeof(float));
        in.upload(images.data(), in.bytes());
        void* bindings[] = {in.data(), out.data()};
        ASSERT_TRUE(context->enqueue(batch, bindings, nullptr, nullptr));
        const std::vector<float> result = out.download<float>();
        const auto written = static_cast<std::ptrdiff_t>(batch * kImageOutputs);
        EXPECT_EQ(std::vector<float>(result.begin(), result.begin() + written),
                  std::vector<float>(all.begin(), all.begin() + written))
            << "batch " << batch;
        EXPECT_TRUE(allBytesAre(std::vector<float>(result.begin() + written, result.end()), 0xFF))
            << "batch " << batch;
    }
    // Bindings sized for one image suffice for a run of one image, not of two.
    DeviceBuffer in(kImageInputs * sizeof(float)), out(kImageOutputs * sizeof(float));
    in.upload(images.data(), in.bytes());
    void* one[] = {in.data(), out.data()};
    EXPECT_TRUE(context->enqueue(1, one, nullptr, nullptr));
    EXPECT_EQ(out.download<float>(), std::vector<float>(all.begin(), all.begin() + kImageOutputs));
    EXPECT_FALSE(context->enqueue(2, one, nullptr, nullptr));
}

}  // namespace
}  // namespace trt_test
