#include "libkrell/Frame/ota_frame.h"

#include <cstring>

#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace {

void AppendU32Be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t ReadU32Be(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// Body bytes of the smallest reply that carries a reply type and a status: length, type, status.
constexpr size_t kMinReplyBodyBytes = 3;

}  // namespace

size_t OtaFrame::FrameCount(size_t image_bytes) {
    return image_bytes == 0 ? 0 : (image_bytes - 1) / kDataBytes + 1;
}

std::vector<uint8_t> OtaFrame::Encode(uint32_t type, uint32_t total, uint32_t index,
                                      const uint8_t* data, size_t size) {
    std::vector<uint8_t> frame(kTag, kTag + kTagBytes);
    frame.reserve(kHeaderBytes + size + kTrailerBytes);
    AppendU32Be(frame, type);
    AppendU32Be(frame, total);
    AppendU32Be(frame, index);
    AppendU32Be(frame, static_cast<uint32_t>(size));
    if (size > 0) frame.insert(frame.end(), data, data + size);
    AppendU32Be(frame, SerialFrame::PaddedCrc(frame.data() + kTagBytes, frame.size() - kTagBytes));
    frame.push_back(SerialFrame::kMark0);
    frame.push_back(SerialFrame::kMark1);
    return frame;
}

std::vector<uint8_t> OtaFrame::StateQuery() {
    const std::vector<uint8_t> fill(kDataBytes, kStateQueryFill);
    return Encode(kTypeStateQuery, 1, 0, fill.data(), fill.size());
}

bool OtaFrame::Decode(const uint8_t* frame, size_t size, Fields& fields) {
    if (frame == nullptr || size < kHeaderBytes + kTrailerBytes) return false;
    if (std::memcmp(frame, kTag, kTagBytes) != 0) return false;
    const uint32_t length = ReadU32Be(frame + kTagBytes + 12);
    if (length != size - kHeaderBytes - kTrailerBytes) return false;
    if (frame[size - 2] != SerialFrame::kMark0 || frame[size - 1] != SerialFrame::kMark1) {
        return false;
    }
    const size_t crc_at = kHeaderBytes + length;
    if (ReadU32Be(frame + crc_at) != SerialFrame::PaddedCrc(frame + kTagBytes, crc_at - kTagBytes)) {
        return false;
    }
    fields.type = ReadU32Be(frame + kTagBytes);
    fields.total = ReadU32Be(frame + kTagBytes + 4);
    fields.index = ReadU32Be(frame + kTagBytes + 8);
    fields.data.assign(frame + kHeaderBytes, frame + crc_at);
    return true;
}

bool OtaFrame::ParseReply(const uint8_t* frame, size_t size, Reply& reply) {
    std::vector<uint8_t> body;
    if (!SerialFrame::CheckReply(frame, size, &body, true)) return false;
    if (body.size() < kMinReplyBodyBytes) return false;
    reply.type = body[1];
    reply.status = body.back();
    return true;
}

std::vector<uint8_t> OtaFrame::EncodeReply(uint8_t reply_type, uint8_t frame_type, uint8_t status) {
    SerialFrame::Layout layout;
    layout.crc_msb_first = true;
    layout.length_bias = 0;
    const uint8_t payload[2] = {frame_type, status};
    return SerialFrame::Encode(SerialFrame::kReplyTag, reply_type, payload, sizeof(payload), layout);
}

}  // namespace lidar
}  // namespace krell
