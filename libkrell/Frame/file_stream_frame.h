#pragma once
// The file-stream frame payload: a file cut into numbered, checksummed chunks for streaming a
// firmware image, each chunk behind a 16-byte sub-header (zero, frame number from 1, frame total,
// CRC-32/MPEG-2 of the chunk; each u32 big-endian). The CMX 1.0 parser wraps each payload in a
// request frame.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krell {
namespace lidar {

class FileStreamFrame {
public:
    static constexpr size_t kChunkBytes = 1024;
    static constexpr size_t kSubHeaderBytes = 16;

    //! Number of frames a file of `file_bytes` bytes is cut into (0 for an empty file).
    static size_t FrameCount(size_t file_bytes);

    //! The payload of frame `number` (1..FrameCount) of `file`; empty for a number out of range.
    static std::vector<uint8_t> Payload(const std::vector<uint8_t>& file, size_t number);
};

}  // namespace lidar
}  // namespace krell
