#include "platform/tensorrt/src/engine_inspector.h"

#include <exception>

#include "platform/tensorrt/src/execution_context.h"
#include "platform/tensorrt/src/graph_planner.h"

namespace trt_host {
namespace {

// Layer and kernel names are the network's own strings: quotes and control bytes are escaped.
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            quoted += "\\u00";
            quoted += kHex[(c >> 4) & 0xF];
            quoted += kHex[c & 0xF];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

EngineInspector::EngineInspector(const nvinfer1::ICudaEngine& engine,
                                 std::shared_ptr<const Graph> graph, nvinfer1::ILogger& logger)
    : engine_(engine), graph_(std::move(graph)), logger_(logger) {
    for (std::size_t i = 0; i < graph_->ops.size(); ++i) {
        bool fused = false;
        for (std::size_t j = 0; j < i && !fused; ++j) {
            fused = GraphPlanner::fusedActivation(*graph_, j) == static_cast<int32_t>(i);
        }
        if (!fused) {
            layer_names_.push_back(GraphPlanner::layerName(*graph_, i));
        }
    }
}

EngineInspector::~EngineInspector() noexcept {
    setErrorRecorder(nullptr);
}

bool EngineInspector::setExecutionContext(const nvinfer1::IExecutionContext* context) noexcept {
    if (context != nullptr && &context->getEngine() != &engine_) {
        return false;
    }
    context_ = dynamic_cast<const ExecutionContext*>(context);
    return context == nullptr || context_ != nullptr;
}

const nvinfer1::IExecutionContext* EngineInspector::getExecutionContext() const noexcept {
    return context_;
}

void EngineInspector::setErrorRecorder(nvinfer1::IErrorRecorder* recorder) noexcept {
    if (recorder != nullptr) {
        recorder->incRefCount();
    }
    if (recorder_ != nullptr) {
        recorder_->decRefCount();
    }
    recorder_ = recorder;
}

std::string EngineInspector::describe(int32_t layer, const std::string& name, bool json) const {
    const bool known = context_ != nullptr;
    const std::string kernels = known ? context_->fullBatch().kernelsOf(layer) : "";
    if (json) {
        return "{\"Name\": " + jsonString(name) +
               (known ? ", \"TacticName\": " + jsonString(kernels) : "") + "}";
    }
    return name + (known ? ": " + kernels : "");
}

std::string EngineInspector::engineText(bool json) const {
    std::string text = json ? "{\"Layers\": [" : "";
    for (std::size_t i = 0; i < layer_names_.size(); ++i) {
        text += (i == 0 ? ""
                 : json ? ", "
                        : "\n") +
                describe(static_cast<int32_t>(i), layer_names_[i], json);
    }
    // The conversions between binding types and the layers' layouts run outside every layer.
    if (context_ != nullptr && !context_->fullBatch().kernelsOf(-1).empty()) {
        text += (json ? ", " : "\n") + describe(-1, "(binding conversions)", json);
    }
    if (json) {
        text += "], \"Bindings\": [";
        for (int32_t i = 0; i < engine_.getNbBindings(); ++i) {
            text += (i == 0 ? "" : ", ") + jsonString(engine_.getBindingName(i));
        }
        text += "]}";
    }
    return text;
}

const char* EngineInspector::getLayerInformation(
    int32_t layerIndex, nvinfer1::LayerInformationFormat format) const noexcept {
    if (layerIndex < 0 || layerIndex >= static_cast<int32_t>(layer_names_.size())) {
        const std::string message = "getLayerInformation: no layer " + std::to_string(layerIndex);
        if (recorder_ != nullptr) {
            recorder_->reportError(nvinfer1::ErrorCode::kINVALID_ARGUMENT, message.c_str());
        } else {
            logger_.log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
        }
        return nullptr;
    }
    try {
        text_ = describe(layerIndex, layer_names_[layerIndex],
                         format == nvinfer1::LayerInformationFormat::kJSON);
        return text_.c_str();
    } catch (const std::exception&) {
        return nullptr;
    }
}

const char* EngineInspector::getEngineInformation(
    nvinfer1::LayerInformationFormat format) const noexcept {
    try {
        text_ = engineText(format == nvinfer1::LayerInformationFormat::kJSON);
        return text_.c_str();
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace trt_host
