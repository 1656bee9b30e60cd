// IBuilderConfig of the stand-in: flags, algorithm selector and device settings.
#pragma once

#include "NvInfer.h"

namespace trt_host {

//! Plain settings holder; one thread at a time. The selector is borrowed.
class BuilderConfig final : public nvinfer1::IBuilderConfig {
public:
    void setFlags(nvinfer1::BuilderFlags flags) noexcept override { flags_ = flags; }
    nvinfer1::BuilderFlags getFlags() const noexcept override { return flags_; }
    void setFlag(nvinfer1::BuilderFlag flag) noexcept override { flags_ |= bit(flag); }
    void clearFlag(nvinfer1::BuilderFlag flag) noexcept override { flags_ &= ~bit(flag); }
    bool getFlag(nvinfer1::BuilderFlag flag) const noexcept override {
        return (flags_ & bit(flag)) != 0;
    }
    void setAlgorithmSelector(nvinfer1::IAlgorithmSelector* selector) noexcept override {
        selector_ = selector;
    }
    nvinfer1::IAlgorithmSelector* getAlgorithmSelector() const noexcept override {
        return selector_;
    }
    void setDLACore(int32_t dlaCore) noexcept override { dla_core_ = dlaCore; }
    int32_t getDLACore() const noexcept override { return dla_core_; }
    void setDefaultDeviceType(nvinfer1::DeviceType deviceType) noexcept override {
        device_type_ = deviceType;
    }
    nvinfer1::DeviceType getDefaultDeviceType() const noexcept override { return device_type_; }
    void setMaxWorkspaceSize(std::size_t workspaceSize) noexcept override {
        workspace_bytes_ = workspaceSize;
    }
    std::size_t getMaxWorkspaceSize() const noexcept override { return workspace_bytes_; }
    void setMemoryPoolLimit(nvinfer1::MemoryPoolType pool, std::size_t poolSize) noexcept override {
        const auto index = static_cast<std::size_t>(pool);
        if (index < kPoolCount) pool_bytes_[index] = poolSize;
    }
    std::size_t getMemoryPoolLimit(nvinfer1::MemoryPoolType pool) const noexcept override {
        const auto index = static_cast<std::size_t>(pool);
        return index < kPoolCount ? pool_bytes_[index] : 0;
    }
    void reset() noexcept override { *this = BuilderConfig(); }

private:
    static nvinfer1::BuilderFlags bit(nvinfer1::BuilderFlag flag) {
        return nvinfer1::BuilderFlags{1} << static_cast<uint32_t>(flag);
    }

    nvinfer1::BuilderFlags flags_{0};
    nvinfer1::IAlgorithmSelector* selector_{nullptr};
    int32_t dla_core_{-1};
    nvinfer1::DeviceType device_type_{nvinfer1::DeviceType::kGPU};
    std::size_t workspace_bytes_{0};
    static constexpr std::size_t kPoolCount = 4;
    std::size_t pool_bytes_[kPoolCount]{};
};

}  // namespace trt_host
