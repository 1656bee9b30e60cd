#include "libkrell/CmxClient/cmx_tunnel.h"

namespace krell {
namespace lidar {

std::vector<uint8_t> TunnelPrefix(uint8_t operation) {
    return {0x00, 0x00, 0x01, operation};
}

bool HasTunnelPrefix(const std::vector<uint8_t>& payload) {
    return payload.size() >= kTunnelPrefixBytes && payload[0] == 0x00 && payload[1] == 0x00 &&
           payload[2] == 0x01;
}

}  // namespace lidar
}  // namespace krell
