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

    //! At most this many recent times are kept per layer: a denoiser runs for days, one pass
    //! per frame, and nothing reads old times, so they must not pile up.
    static constexpr size_t kMaxTimesPerLayer = 4096;

    //! Appends ms to the record of the layer at the current position of the pass (dropping
    //! the older half of a full record first). Layers are matched by position; a name is
    //! compared only when the position wraps to the first record.
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
