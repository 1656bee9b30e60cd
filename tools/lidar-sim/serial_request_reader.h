#pragma once
// Cuts "$LDCMD," request frames out of the bytes a client writes on a serial line. The frame
// length follows from the length byte; anything before a tag is skipped. One thread only.

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
