#pragma once
// The commands every simulated model answers: the connection probes 0x07/0x08 and the field of
// view (0x22 write, 0x23 read, single-channel mode 0 and five-channel mode 3).

#include <string>

#include "libkrell/CmxClient/cmx_codes.h"
#include "tools/lidar-sim/sim_device.h"

namespace krell {
namespace lidar {
namespace sim {

//! Return code of a refused field-of-view write.
constexpr uint8_t kRetBadParameter = 0x01;

//! Registers the probe and field-of-view handlers on `device` for the named model and seeds
//! their state (five channels of 72 degrees each).
void RegisterBuiltinHandlers(SimDevice& device, const std::string& model);

}  // namespace sim
}  // namespace lidar
}  // namespace krell
