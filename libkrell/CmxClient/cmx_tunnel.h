#pragma once
// The serial tunnel in CMX command 0xFF, as both the client and the virtual sensor speak it:
// every tunnel payload starts with the 4-byte prefix 00 00 01 <operation>.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "libkrell/CmxClient/cmx_codes.h"

namespace krell {
namespace lidar {

constexpr size_t kTunnelPrefixBytes = 4;
//! Operation: a serial request frame follows; the reply is the prefix + the serial reply frame.
constexpr uint8_t kTunnelOpSerialFrame = 0x38;
//! Operation: set the serial line speed (u32 big-endian follows); the reply is the prefix.
constexpr uint8_t kTunnelOpSetSerialBaud = 0x39;
//! Operation: get the serial line speed; the reply is the prefix + u32 big-endian.
constexpr uint8_t kTunnelOpGetSerialBaud = 0x3A;

//! The tunnel prefix that starts a payload for `operation`.
std::vector<uint8_t> TunnelPrefix(uint8_t operation);

//! True when `payload` starts with a tunnel prefix (whatever its operation).
bool HasTunnelPrefix(const std::vector<uint8_t>& payload);

}  // namespace lidar
}  // namespace krell
