#pragma once
// Column names of the per-point attributes, in the order the viewer's tables show them.
#include <array>

namespace krell {
namespace lumora {

constexpr std::array<const char*, 31> kPointAttributeNames = {
    "t(us)",      "Azi(deg)",      "AziCorr(deg)", "Ele(deg)",       "EleCorr(deg)", "RFL",
    "Dist(m)",    "x(m)",          "y(m)",         "z(m)",           "confidence",   "WeightFactor",
    "EnvLight",   "AziState",      "DirtyDegree",  "Confidence4567", "Field",        "GlareInD",
    "TurnIndex",  "PointId",       "RelVelocity",  "AngleId",        "Col",          "Row",
    "Background", "FtxConfidence", "DirtyLevel",   "NoiseLevel",     "RawIntensity", "Area",
    "Peak"};

}  // namespace lumora
}  // namespace krell
