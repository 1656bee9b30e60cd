// KrellProfiler: collects per-layer times that TensorRT reports after each inference pass.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "NvInferRuntimeBase.h"

namespace krell::det {

class KrellProfiler : public nvinfer1::IProfiler {
public:
    using Record = std::pair<std::string, std::vector<float>>;

    //! Appends ms to the record of the layer at the current position of the pass. Layers are
    //! matched by position; a name is compared only when the position wraps to the first record.
    //! Called by the thread that runs inference; not safe against concurrent calls.
    void reportLayerTime(const char* layerName, float ms) noexcept override;

    //! Records in first-seen order (a copy).
    std::vector<Record> records() const { return records_; }
    //! Number of passes counted so far.
    int32_t passes() const { return passes_; }

private:
    std::vector<Record> records_;
    size_t cursor_ = 0;
    int32_t passes_ = 0;
};

}  // namespace krell::det
