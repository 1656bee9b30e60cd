#include "libkrell/Frame/file_stream_frame.h"

#include <algorithm>

#include "libkrell/Frame/crc32.h"

namespace krell {
namespace lidar {
namespace {

void AppendU32Be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

size_t FileStreamFrame::FrameCount(size_t file_bytes) {
    return (file_bytes + kChunkBytes - 1) / kChunkBytes;
}

std::vector<uint8_t> FileStreamFrame::Payload(const std::vector<uint8_t>& file, size_t number) {
    const size_t total = FrameCount(file.size());
    if (number < 1 || number > total) return {};
    const size_t begin = (number - 1) * kChunkBytes;
    const size_t size = std::min(kChunkBytes, file.size() - begin);
    std::vector<uint8_t> payload;
    payload.reserve(kSubHeaderBytes + size);
    AppendU32Be(payload, 0);
    AppendU32Be(payload, static_cast<uint32_t>(number));
    AppendU32Be(payload, static_cast<uint32_t>(total));
    AppendU32Be(payload, Crc32Mpeg2(file.data() + begin, size));
    payload.insert(payload.end(), file.begin() + begin, file.begin() + begin + size);
    return payload;
}

}  // namespace lidar
}  // namespace krell
