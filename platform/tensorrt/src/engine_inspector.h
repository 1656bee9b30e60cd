// IEngineInspector of the stand-in: names the CPU kernels that run each engine layer, so a
// layer left on a slow reference implementation shows up without a profiler.
#pragma once

#include <memory>
#include <string>

#include "NvInferRuntime.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

class ExecutionContext;

//! Queries from one thread at a time. The engine and the set context are borrowed.
class EngineInspector final : public nvinfer1::IEngineInspector {
public:
    EngineInspector(const nvinfer1::ICudaEngine& engine, std::shared_ptr<const Graph> graph,
                    nvinfer1::ILogger& logger);
    ~EngineInspector() noexcept override;
    EngineInspector(const EngineInspector&) = delete;
    EngineInspector& operator=(const EngineInspector&) = delete;

    bool setExecutionContext(const nvinfer1::IExecutionContext* context) noexcept override;
    const nvinfer1::IExecutionContext* getExecutionContext() const noexcept override;
    const char* getLayerInformation(
        int32_t layerIndex, nvinfer1::LayerInformationFormat format) const noexcept override;
    const char* getEngineInformation(
        nvinfer1::LayerInformationFormat format) const noexcept override;
    void setErrorRecorder(nvinfer1::IErrorRecorder* recorder) noexcept override;
    nvinfer1::IErrorRecorder* getErrorRecorder() const noexcept override { return recorder_; }

private:
    // Layer `layer` (-1: the binding conversions) as one JSON object or one line.
    std::string describe(int32_t layer, const std::string& name, bool json) const;
    std::string engineText(bool json) const;

    const nvinfer1::ICudaEngine& engine_;
    std::shared_ptr<const Graph> graph_;
    std::vector<std::string> layer_names_;
    nvinfer1::ILogger& logger_;
    const ExecutionContext* context_{nullptr};
    nvinfer1::IErrorRecorder* recorder_{nullptr};
    mutable std::string text_;  // what the last query returned
};

}  // namespace trt_host
