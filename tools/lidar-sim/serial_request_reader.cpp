#include "tools/lidar-sim/serial_request_reader.h"

#include <algorithm>
#include <cstring>

#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

// Tag, length byte and command come before the payload.
constexpr size_t kHeadBytes = SerialFrame::kTagBytes + 2;
// Both tags begin with this byte; the rest tells a command from an OTA frame.
constexpr uint8_t kTagStart = '$';
//! OTA frames announce at most this many data bytes; a longer length is garbage.
constexpr uint32_t kMaxOtaDataBytes = 64 * 1024;

bool StartsWith(const std::vector<uint8_t>& bytes, size_t at, const char* tag) {
    return bytes.size() - at >= SerialFrame::kTagBytes &&
           std::memcmp(bytes.data() + at, tag, SerialFrame::kTagBytes) == 0;
}

// Whole length of the frame at `at` (0: not known yet, or no frame starts there); sets `skip` when
// the bytes there cannot start a frame.
size_t FrameBytes(const std::vector<uint8_t>& bytes, size_t at, bool& skip) {
    skip = false;
    const size_t left = bytes.size() - at;
    if (left < SerialFrame::kTagBytes) {
        skip = std::memcmp(bytes.data() + at, SerialFrame::kRequestTag, left) != 0 &&
               std::memcmp(bytes.data() + at, OtaFrame::kTag, left) != 0;
        return 0;
    }
    if (StartsWith(bytes, at, SerialFrame::kRequestTag)) {
        if (left < kHeadBytes) return 0;
        // The length byte counts the payload plus one.
        const size_t payload = static_cast<uint8_t>(bytes[at + SerialFrame::kTagBytes] - 1);
        return SerialFrame::kMinFrameBytes + payload;
    }
    if (StartsWith(bytes, at, OtaFrame::kTag)) {
        if (left < OtaFrame::kHeaderBytes) return 0;
        const uint8_t* length = bytes.data() + at + OtaFrame::kHeaderBytes - 4;
        const uint32_t data = static_cast<uint32_t>(length[0]) << 24 | length[1] << 16 |
                              length[2] << 8 | length[3];
        if (data > kMaxOtaDataBytes) {
            skip = true;
            return 0;
        }
        return OtaFrame::kHeaderBytes + data + OtaFrame::kTrailerBytes;
    }
    skip = true;
    return 0;
}

}  // namespace

std::vector<std::vector<uint8_t>> SerialRequestReader::Feed(const uint8_t* data, size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    std::vector<std::vector<uint8_t>> frames;
    size_t at = 0;
    while (at < pending_.size()) {
        const auto tag = std::find(pending_.begin() + at, pending_.end(), kTagStart);
        at = static_cast<size_t>(tag - pending_.begin());
        if (tag == pending_.end()) break;
        bool skip = false;
        const size_t total = FrameBytes(pending_, at, skip);
        if (skip) {
            ++at;
            continue;
        }
        if (total == 0 || pending_.size() - at < total) break;
        frames.emplace_back(pending_.begin() + at, pending_.begin() + at + total);
        at += total;
    }
    pending_.erase(pending_.begin(), pending_.begin() + at);
    return frames;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
