// The demo denoise network: a small recurrent network whose weights are set by hand. A return is
// scored as noise when its forward distance disagrees with all eight neighbours and it was not
// at that distance at that pixel in the previous frame (so a small reflector that stays put is
// kept). The recurrent state is the previous frame's distance plane.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace krell::demo {

constexpr int32_t kRows = 64;
constexpr int32_t kCols = 2560;
constexpr int32_t kPoints = kRows * kCols;
constexpr int32_t kInputPlanes = 4;
//! Disagreement thresholds in quantisation steps of x (0.6425 m each).
constexpr float kSpatialThresholdSteps = 3.0F;
constexpr float kTemporalThresholdSteps = 2.0F;
//! Output byte of a point scored as noise; scores at or above kNoiseCutoff count as noise.
constexpr float kNoiseScore = 100.0F;
constexpr int32_t kNoiseCutoff = 50;

//! The layer list ("layers" of one network) and the weight block it consumes, in order.
struct DemoNetwork {
    nlohmann::json description;
    std::vector<float> weights;
};

//! The "rimg" network in the layer schema of the given generation ("v0.0.4", "0.0.2" or
//! "0.0.3"). Any other version yields a description of the 0.0.2 form.
DemoNetwork makeDemoNetwork(const std::string& version);

//! Writes a network file of that generation at path. False when the file cannot be written.
bool writeNetworkFile(const std::string& path, const std::string& version);

//! Writes network as a network file of that generation at path, with an output scale of 1 for
//! each name in outputs; network.description is the whole description (an array of networks)
//! and its layers must use that generation's schema. False when the file cannot be written.
bool writeNetworkFile(const std::string& path, const std::string& version,
                      const DemoNetwork& network, const std::vector<std::string>& outputs);

//! The parameter file ("config/test.json") for a model at netPath/enginePath.
nlohmann::json makeConfig(const std::string& netPath, const std::string& enginePath);

//! Makes dir a folder cloud_denoiser can run from: the v0.0.4 network as "model/demo.net" and
//! "config/test.json" naming it and the engine "model/demo.engine" (built on first use). False
//! when a file cannot be written.
bool writeModelFolder(const std::string& dir);

}  // namespace krell::demo
