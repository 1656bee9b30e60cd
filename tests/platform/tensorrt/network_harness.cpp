#include "tests/platform/tensorrt/network_harness.h"

#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace trt_test {

void RecordingLogger::log(Severity severity, const char* msg) noexcept {
    if (severity <= Severity::kWARNING) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.emplace_back(severity, msg);
    }
}

std::string RecordingLogger::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& m : messages_) {
        all += m.second + "\n";
    }
    return all;
}

int RecordingLogger::errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const auto& m : messages_) {
        count += m.first <= Severity::kERROR ? 1 : 0;
    }
    return count;
}

NetworkHarness::NetworkHarness()
    : builder_(nvinfer1::createInferBuilder(logger_)),
      config_(builder_->createBuilderConfig()),
      network_(builder_->createNetworkV2(
          1U << static_cast<uint32_t>(nvinfer1::NetworkDefinitionCreationFlag::kEXPLICIT_BATCH))) {}

nvinfer1::ITensor* NetworkHarness::input(const char* name, nvinfer1::Dims dims) {
    return network_->addInput(name, nvinfer1::DataType::kFLOAT, dims);
}

void NetworkHarness::output(nvinfer1::ITensor* tensor, const char* name) {
    tensor->setName(name);
    network_->markOutput(*tensor);
}

Owned<nvinfer1::IHostMemory> NetworkHarness::serialize() {
    return Owned<nvinfer1::IHostMemory>(builder_->buildSerializedNetwork(*network_, *config_));
}

Owned<nvinfer1::ICudaEngine> NetworkHarness::engine() {
    Owned<nvinfer1::IHostMemory> blob = serialize();
    if (!blob) {
        return nullptr;
    }
    Owned<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger_));
    return Owned<nvinfer1::ICudaEngine>(runtime->deserializeCudaEngine(blob->data(), blob->size()));
}

nvinfer1::Weights NetworkHarness::weights(const std::vector<float>& values) {
    kept_.push_back(values);
    nvinfer1::Weights view;
    view.type = nvinfer1::DataType::kFLOAT;
    view.values = kept_.back().data();
    view.count = static_cast<int64_t>(values.size());
    return view;
}

std::size_t volume(const nvinfer1::Dims& dims) {
    std::size_t count = 1;
    for (int32_t i = 0; i < dims.nbDims; ++i) {
        count *= static_cast<std::size_t>(dims.d[i]);
    }
    return count;
}

DeviceBuffer::DeviceBuffer(std::size_t bytes) : bytes_(bytes) {
    EXPECT_EQ(cudaMalloc(&data_, bytes), cudaSuccess);
    EXPECT_EQ(cudaMemset(data_, 0xFF, bytes), cudaSuccess);
}

DeviceBuffer::~DeviceBuffer() {
    cudaFree(data_);
}

void DeviceBuffer::upload(const void* host, std::size_t bytes) {
    EXPECT_EQ(cudaMemcpy(data_, host, std::min(bytes, bytes_), cudaMemcpyHostToDevice),
              cudaSuccess);
}

void DeviceBuffer::downloadTo(void* host, std::size_t bytes) const {
    EXPECT_EQ(cudaMemcpy(host, data_, bytes, cudaMemcpyDeviceToHost), cudaSuccess);
}

std::vector<std::vector<float>> runFloat(nvinfer1::ICudaEngine& engine,
                                         const std::vector<std::vector<float>>& inputs) {
    std::vector<std::unique_ptr<DeviceBuffer>> buffers;
    std::vector<void*> bindings;
    for (int32_t i = 0; i < engine.getNbBindings(); ++i) {
        const std::size_t count = volume(engine.getBindingDimensions(i));
        buffers.push_back(std::make_unique<DeviceBuffer>(count * sizeof(float)));
        if (static_cast<std::size_t>(i) < inputs.size()) {
            buffers.back()->upload(inputs[i].data(), inputs[i].size() * sizeof(float));
        }
        bindings.push_back(buffers.back()->data());
    }
    Owned<nvinfer1::IExecutionContext> context(engine.createExecutionContext());
    if (!context || !context->executeV2(bindings.data())) {
        return {};
    }
    std::vector<std::vector<float>> outputs;
    for (std::size_t i = inputs.size(); i < buffers.size(); ++i) {
        outputs.push_back(buffers[i]->download<float>());
    }
    return outputs;
}

std::vector<float> randomValues(std::size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-1.0F, 1.0F);
    std::vector<float> values(count);
    for (float& v : values) {
        v = distribution(generator);
    }
    return values;
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) {
        return std::numeric_limits<float>::infinity();
    }
    float worst = 0.0F;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const float diff = std::fabs(a[i] - b[i]);
        worst = std::isnan(diff) ? std::numeric_limits<float>::infinity() : std::max(worst, diff);
    }
    return worst;
}

float maxRelativeDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float scale = 1.0F;
    for (float v : b) {
        scale = std::max(scale, std::fabs(v));
    }
    return maxDifference(a, b) / scale;
}

}  // namespace trt_test
