#include "tools/lidar-sim/serial_request_reader.h"

#include <algorithm>
#include <cstring>

#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

// Tag, length byte and command come before the payload.
constexpr size_t kHeadBytes = SerialFrame::kTagBytes + 2;

}  // namespace

std::vector<std::vector<uint8_t>> SerialRequestReader::Feed(const uint8_t* data, size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    std::vector<std::vector<uint8_t>> frames;
    size_t at = 0;
    while (true) {
        const auto tag =
            std::search(pending_.begin() + at, pending_.end(), SerialFrame::kRequestTag,
                        SerialFrame::kRequestTag + SerialFrame::kTagBytes);
        if (tag == pending_.end()) {
            // Keep a possible partial tag at the end.
            at = pending_.size() - std::min(pending_.size() - at, SerialFrame::kTagBytes - 1);
            break;
        }
        at = static_cast<size_t>(tag - pending_.begin());
        if (pending_.size() - at < kHeadBytes) break;
        // The length byte counts the payload plus one.
        const size_t payload = static_cast<uint8_t>(pending_[at + SerialFrame::kTagBytes] - 1);
        const size_t total = SerialFrame::kMinFrameBytes + payload;
        if (pending_.size() - at < total) break;
        frames.emplace_back(pending_.begin() + at, pending_.begin() + at + total);
        at += total;
    }
    pending_.erase(pending_.begin(), pending_.begin() + at);
    return frames;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
