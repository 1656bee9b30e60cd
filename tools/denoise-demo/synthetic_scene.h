// Synthetic labelled frame sequences for the demo model: a forward-looking sensor (120 degrees
// by 25 degrees) sees a smooth wall, boxes that drift across the view and small reflectors that
// stay put; a few returns per frame are spurious (rain or dust at a random distance).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace krell::demo {

struct SceneFrame {
    std::vector<uint8_t> raw;     //!< 163840 records of four little-endian floats
    std::vector<uint8_t> labels;  //!< one byte per point: 1 for a spurious return
};

//! Frame index of a sequence drawn from seed; the same arguments give the same bytes.
//! noiseFraction is the share of pixels replaced by spurious returns.
SceneFrame makeSceneFrame(uint32_t seed, int32_t index, double noiseFraction);

//! Writes count frames as <dir>/frame_NNNN.bin and labels as <labelDir>/frame_NNNN.label.
//! False when a file cannot be written.
bool writeSequence(const std::string& dir, const std::string& labelDir, uint32_t seed,
                   int32_t count, double noiseFraction);

}  // namespace krell::demo
