#include "libkrell/Frame/serial_frame.h"

#include <cstring>
#include <random>

#include "libkrell/Frame/crc32.h"

namespace krell {
namespace lidar {
namespace {

constexpr size_t kCrcAlignBytes = 4;

void AppendWord(std::vector<uint8_t>& out, uint32_t word, bool msb_first) {
    for (int i = 0; i < 4; ++i) {
        const int shift = msb_first ? 24 - 8 * i : 8 * i;
        out.push_back(static_cast<uint8_t>(word >> shift));
    }
}

uint32_t ReadWord(const uint8_t* at, bool msb_first) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        const int shift = msb_first ? 24 - 8 * i : 8 * i;
        word |= static_cast<uint32_t>(at[i]) << shift;
    }
    return word;
}

}  // namespace

std::vector<uint8_t> SerialFrame::Encode(const char* tag, uint8_t cmd, const uint8_t* payload,
                                         size_t size, const Layout& layout) {
    std::vector<uint8_t> frame(kTagBytes + 2 + size);
    frame.reserve(kMinFrameBytes + size);
    std::memcpy(frame.data(), tag, kTagBytes);
    frame[kTagBytes] = static_cast<uint8_t>(size + layout.length_bias);
    frame[kTagBytes + 1] = cmd;
    if (size > 0) std::memcpy(frame.data() + kTagBytes + 2, payload, size);
    if (layout.random_word) AppendWord(frame, RandomWord(), false);
    const uint32_t crc = PaddedCrc(frame.data() + kTagBytes, frame.size() - kTagBytes);
    AppendWord(frame, crc, layout.crc_msb_first);
    frame.push_back(kMark0);
    frame.push_back(kMark1);
    return frame;
}

std::vector<uint8_t> SerialFrame::EncodeRequest(uint8_t cmd, const std::vector<uint8_t>& payload) {
    return Encode(kRequestTag, cmd, payload.data(), payload.size(), Layout{});
}

bool SerialFrame::CheckReply(const uint8_t* frame, size_t size, std::vector<uint8_t>* body,
                             bool crc_msb_first) {
    Layout layout;
    layout.crc_msb_first = crc_msb_first;
    layout.length_bias = 0;
    return Check(frame, size, nullptr, layout, body);
}

bool SerialFrame::Check(const uint8_t* frame, size_t size, const char* tag, const Layout& layout,
                        std::vector<uint8_t>* body) {
    const size_t trailer = (layout.random_word ? kRandomWordBytes : 0) + kCrcBytes + kEndMarkBytes;
    if (frame == nullptr || size < kTagBytes + 2 + trailer || size < kMinFrameBytes) return false;
    if (tag != nullptr && std::memcmp(frame, tag, kTagBytes) != 0) return false;
    if (frame[size - 2] != kMark0 || frame[size - 1] != kMark1) return false;
    const size_t crc_at = size - kEndMarkBytes - kCrcBytes;
    const uint32_t crc = PaddedCrc(frame + kTagBytes, crc_at - kTagBytes);
    if (ReadWord(frame + crc_at, layout.crc_msb_first) != crc) return false;
    const size_t body_bytes = size - kTagBytes - trailer;
    // The length byte counts the body less 2 + bias; compare as the byte the sender could write.
    const uint8_t expected = static_cast<uint8_t>(body_bytes - 2 + layout.length_bias);
    if (frame[kTagBytes] != expected) return false;
    if (body != nullptr) body->assign(frame + kTagBytes, frame + kTagBytes + body_bytes);
    return true;
}

uint32_t SerialFrame::PaddedCrc(const uint8_t* data, size_t size) {
    static const uint8_t kZeros[kCrcAlignBytes] = {0, 0, 0, 0};
    const uint32_t crc = Crc32Mpeg2(data, size);
    const size_t pad = (kCrcAlignBytes - size % kCrcAlignBytes) % kCrcAlignBytes;
    return Crc32Mpeg2(kZeros, pad, crc);
}

uint32_t SerialFrame::RandomWord() {
    // Opening the system's source costs several microseconds (more than a loopback round trip)
    // and seeding a fresh MT19937 a few more, while a draw from an open source costs tens of
    // nanoseconds: a sensor answering every firmware frame must not pay the former per reply.
    // Every word still comes from the non-deterministic source, so none can be predicted.
    thread_local std::random_device source;
    return static_cast<uint32_t>(source());
}

}  // namespace lidar
}  // namespace krell
