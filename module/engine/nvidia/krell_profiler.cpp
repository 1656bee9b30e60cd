#include "module/engine/nvidia/krell_profiler.h"

namespace krell::det {

void KrellProfiler::reportLayerTime(const char* layerName, float ms) noexcept {
    try {
        const std::string name(layerName == nullptr ? "" : layerName);
        if (cursor_ == records_.size()) {
            const bool first_again = !records_.empty() && records_.front().first == name;
            if (records_.empty() || first_again) {
                ++passes_;
            }
            if (first_again) {
                cursor_ = 0;
            } else {
                records_.emplace_back(name, std::vector<float>{});
                cursor_ = records_.size() - 1;
            }
        }
        std::vector<float>& times = records_[cursor_].second;
        if (times.size() >= kMaxTimesPerLayer) {
            times.erase(times.begin(), times.begin() + kMaxTimesPerLayer / 2);
        }
        times.push_back(ms);
        ++cursor_;
    } catch (...) {
        // Out of memory: the sample is dropped; TensorRT must not see an exception.
    }
}

}  // namespace krell::det
