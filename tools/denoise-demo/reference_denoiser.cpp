#include "tools/denoise-demo/reference_denoiser.h"

#include <algorithm>
#include <cmath>

#include "tools/denoise-demo/demo_network.h"

namespace krell::demo {
namespace {

float relu(float value) {
    return std::max(value, 0.0F);
}

float isolation(const int8_t* x, int32_t row, int32_t col) {
    const float centre = x[row * kCols + col];
    float agreeing = 0.0F;
    for (int32_t dy = -1; dy <= 1; ++dy) {
        for (int32_t dx = -1; dx <= 1; ++dx) {
            if (dy == 0 && dx == 0) {
                continue;
            }
            const int32_t r = row + dy;
            const int32_t c = col + dx;
            const bool inside = r >= 0 && r < kRows && c >= 0 && c < kCols;
            const float neighbour = inside ? x[r * kCols + c] : 0.0F;
            const float excess = relu(centre - neighbour - kSpatialThresholdSteps) +
                                 relu(neighbour - centre - kSpatialThresholdSteps);
            agreeing += relu(1.0F - excess);
        }
    }
    return relu(1.0F - agreeing);
}

}  // namespace

void referenceDenoise(const int8_t* planes, const int8_t* state, int8_t* result,
                      int8_t* nextState) {
    for (int32_t row = 0; row < kRows; ++row) {
        for (int32_t col = 0; col < kCols; ++col) {
            const int32_t i = row * kCols + col;
            const float x = planes[i];
            const float h = state[i];
            const float persist = relu(1.0F - relu(x - h - kTemporalThresholdSteps) -
                                       relu(h - x - kTemporalThresholdSteps));
            const float score = relu(kNoiseScore * (isolation(planes, row, col) - persist));
            result[i] = static_cast<int8_t>(std::clamp(std::round(score), -128.0F, 127.0F));
            nextState[i] = planes[i];
        }
    }
}

}  // namespace krell::demo
