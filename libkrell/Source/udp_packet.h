#pragma once
// One received packet as the packet sources hand it out: a plain value, copied whole.

#include <cstddef>
#include <cstdint>

namespace krell {
namespace lidar {

struct UdpPacket {
    //! Largest packet a source hands out; longer frames never reach a queue.
    static constexpr size_t kDataBytes = 1500;

    uint8_t data[kDataBytes];  //!< packet bytes; only the first `length` are valid
    uint16_t length;           //!< number of valid bytes in `data`
    uint64_t reserved;         //!< left 0 by every source
    uint32_t ip;               //!< sender IPv4 address, network order (0 for serial packets)
    uint16_t port;             //!< sender port, host order (0 for serial packets)
    uint8_t timeout;           //!< set by the socket source when its wait ran out
};

}  // namespace lidar
}  // namespace krell
