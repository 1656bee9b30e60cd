#pragma once
// Cuts "$LDCMD," request frames and "$LDOTA," firmware frames out of the bytes a client writes on
// a serial line. A command frame's length follows from its length byte, an OTA frame's from its
// data length; anything before a tag is skipped. One thread only.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krell {
namespace lidar {
namespace sim {

class SerialRequestReader {
public:
    //! Appends received bytes and returns every request frame they complete (unchecked).
    std::vector<std::vector<uint8_t>> Feed(const uint8_t* data, size_t size);

private:
    std::vector<uint8_t> pending_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
