// Test fixture pieces for the TensorRT stand-in: a logger that keeps messages, a network under
// construction, and a round trip builder -> blob -> runtime -> execution on float bindings.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "NvInfer.h"

namespace trt_test {

//! Keeps every message at or above kWARNING severity.
class RecordingLogger : public nvinfer1::ILogger {
public:
    void log(Severity severity, const char* msg) noexcept override;
    //! All kept messages joined by newlines.
    std::string text() const;
    //! Number of messages of severity kERROR or worse.
    int errors() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<Severity, std::string>> messages_;
};

template <typename T>
struct Destroy {
    void operator()(T* p) const { delete p; }
};
template <typename T>
using Owned = std::unique_ptr<T, Destroy<T>>;

//! A builder, a configuration and an explicit-batch network.
class NetworkHarness {
public:
    NetworkHarness();

    nvinfer1::INetworkDefinition& net() { return *network_; }
    nvinfer1::IBuilderConfig& config() { return *config_; }
    nvinfer1::IBuilder& builder() { return *builder_; }
    RecordingLogger& logger() { return logger_; }

    //! Float network input of the given shape.
    nvinfer1::ITensor* input(const char* name, nvinfer1::Dims dims);
    //! Marks tensor as an output named name.
    void output(nvinfer1::ITensor* tensor, const char* name);
    //! Serialised engine, or null (the logger has the reason).
    Owned<nvinfer1::IHostMemory> serialize();
    //! serialize(), then deserialise through a runtime; null on any failure.
    Owned<nvinfer1::ICudaEngine> engine();

    //! Keeps weight values alive for the adding call and returns a view of them.
    nvinfer1::Weights weights(const std::vector<float>& values);

private:
    RecordingLogger logger_;
    Owned<nvinfer1::IBuilder> builder_;
    Owned<nvinfer1::IBuilderConfig> config_;
    Owned<nvinfer1::INetworkDefinition> network_;
    std::vector<std::vector<float>> kept_;
};

//! One cudaMalloc block, freed on destruction; bytes are set to 0xFF (a NaN pattern) at first.
class DeviceBuffer {
public:
    explicit DeviceBuffer(std::size_t bytes);
    ~DeviceBuffer();
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;

    void* data() const { return data_; }
    std::size_t bytes() const { return bytes_; }
    //! Copies host bytes in (at most bytes()).
    void upload(const void* host, std::size_t bytes);
    //! All bytes as values of T.
    template <typename T>
    std::vector<T> download() const {
        std::vector<T> host(bytes_ / sizeof(T));
        downloadTo(host.data(), host.size() * sizeof(T));
        return host;
    }

private:
    void downloadTo(void* host, std::size_t bytes) const;

    void* data_{nullptr};
    std::size_t bytes_;
};

//! Runs engine once with float bindings in device memory: inputs in binding order, returns every
//! output (empty when the context cannot be made or the run is refused).
std::vector<std::vector<float>> runFloat(nvinfer1::ICudaEngine& engine,
                                         const std::vector<std::vector<float>>& inputs);

//! Deterministic values in [-1, 1].
std::vector<float> randomValues(std::size_t count, uint32_t seed);

//! Element count of dims.
std::size_t volume(const nvinfer1::Dims& dims);

//! Largest |a[i] - b[i]| over both vectors (infinity when their sizes differ).
float maxDifference(const std::vector<float>& a, const std::vector<float>& b);

//! maxDifference(a, b) divided by the largest |b[i]| (or by 1 when that is smaller).
float maxRelativeDifference(const std::vector<float>& a, const std::vector<float>& b);

}  // namespace trt_test
