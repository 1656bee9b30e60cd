#include "DeviceBench/scale_factor.h"

#include <algorithm>

namespace {

constexpr double kDenseRatio = 1.25;
constexpr double kDenseShare = 0.8;
constexpr double kReferenceWidthPx = 1920.0;

}  // namespace

ScaleFactor ComputeScaleFactor(const QSize& logical, const QSize& physical) {
    ScaleFactor result;
    if (logical.width() <= 0 || logical.height() <= 0 || physical.width() <= 0 ||
        physical.height() <= 0) {
        return result;
    }
    result.ratio = std::max(static_cast<double>(physical.width()) / logical.width(),
                            static_cast<double>(physical.height()) / logical.height());
    if (result.ratio > kDenseRatio) {
        result.scale = result.ratio * kDenseShare;
    } else {
        result.scale = std::max(1.0, logical.width() / kReferenceWidthPx);
    }
    return result;
}
