// IHostMemory holding a serialised engine.
#pragma once

#include <cstdint>
#include <vector>

#include "NvInferRuntime.h"

namespace trt_host {

//! Owns its bytes; released by whoever received it from the builder or the engine.
class HostMemory final : public nvinfer1::IHostMemory {
public:
    explicit HostMemory(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    void* data() const noexcept override { return const_cast<uint8_t*>(bytes_.data()); }
    std::size_t size() const noexcept override { return bytes_.size(); }
    nvinfer1::DataType type() const noexcept override { return nvinfer1::DataType::kUINT8; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace trt_host
