#include "libkrell/Source/serial_stream_parser.h"

#include <algorithm>
#include <cstring>

#include "libkrell/Frame/serial_frame.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

constexpr uint32_t kTagBytes = SerialFrame::kTagBytes;
constexpr uint8_t kMark0 = SerialFrame::kMark0;
constexpr uint8_t kMark1 = SerialFrame::kMark1;
constexpr uint32_t kShortPointBytes = 34;
constexpr uint32_t kPointBytes = 80;
constexpr uint32_t kLongPointBytes = 132;
constexpr uint32_t kSkippedHeaderBytes = 6;
constexpr uint32_t kErrorLogInterval = 10000;

}  // namespace

SerialStreamParser::SerialStreamParser(PacketQueue& replies, PacketQueue& points)
    : replies_(replies), points_(points), buffer_(kWorkBufferBytes) {}

uint8_t* SerialStreamParser::ReserveRead() {
    if (fill_ + kReadChunkBytes > kWorkBufferBytes) {
        const uint32_t unparsed = fill_ - parse_;
        std::memmove(buffer_.data(), buffer_.data() + parse_, unparsed);
        fill_ = unparsed;
        parse_ = 0;
    }
    if (fill_ + kReadChunkBytes > kWorkBufferBytes) return nullptr;
    return buffer_.data() + fill_;
}

void SerialStreamParser::CommitRead(size_t count) {
    fill_ += static_cast<uint32_t>(std::min<size_t>(count, kReadChunkBytes));
}

void SerialStreamParser::Feed(const uint8_t* data, size_t size) {
    while (size > 0) {
        uint8_t* slot = ReserveRead();
        if (slot == nullptr) return;
        const size_t step = std::min<size_t>(size, kReadChunkBytes);
        std::memcpy(slot, data, step);
        CommitRead(step);
        Parse();
        data += step;
        size -= step;
    }
}

void SerialStreamParser::Reset() {
    fill_ = 0;
    parse_ = 0;
}

void SerialStreamParser::Parse() {
    while (fill_ - parse_ >= kTagBytes) {
        const uint8_t* at = buffer_.data() + parse_;
        if (std::memcmp(at, SerialFrame::kReplyTag, kTagBytes) == 0) {
            if (!TakeReply()) return;
        } else if (at[0] == kMark0 && at[1] == kMark1) {
            if (!TakePoint()) return;
        } else {
            ++parse_;
        }
    }
}

// Returns false when the frame is not complete yet.
bool SerialStreamParser::TakeReply() {
    const uint8_t* frame = buffer_.data() + parse_;
    const uint32_t unparsed = fill_ - parse_;
    if (unparsed <= kTagBytes + 1) return false;
    // A queued packet holds at most kDataBytes, so the end mark is only looked for that far.
    const uint32_t limit = std::min<uint32_t>(unparsed, UdpPacket::kDataBytes);
    for (uint32_t i = kTagBytes; i + 1 < limit; ++i) {
        if (frame[i] == kMark0 && frame[i + 1] == kMark1) {
            replies_.Push(frame, i + 2);
            parse_ += i + 2;
            return true;
        }
    }
    if (unparsed < UdpPacket::kDataBytes) return false;
    // Waiting longer would only fill the work buffer until no read fits and the line stalls for
    // good; drop the frame and look for the next tag after this one.
    ++oversized_replies_;
    SLOG_WARNING("serial reply frame without end mark within %zu bytes dropped, resynchronising",
                 UdpPacket::kDataBytes);
    parse_ += kTagBytes;
    return true;
}

// Returns false when the packet is not complete yet.
bool SerialStreamParser::TakePoint() {
    const uint8_t* packet = buffer_.data() + parse_;
    const uint32_t unparsed = fill_ - parse_;
    uint32_t size = kPointBytes;
    bool unknown_version = false;
    if (packet[5] == 1) {
        size = kShortPointBytes;
    } else if (packet[5] != 0) {
        parse_ += kSkippedHeaderBytes;
        return true;
    } else if (packet[3] == 8) {
        size = kPointBytes;
    } else if (packet[3] == 12) {
        size = kLongPointBytes;
    } else {
        unknown_version = true;
    }
    if (unparsed < size) return false;
    // A packet cut short on the line would swallow the reply behind it; point data practically
    // never holds the 7-byte reply tag, so a tag inside the packet marks where the packet broke off.
    const uint8_t* tag = std::search(packet + 2, packet + std::min(unparsed, size + kTagBytes - 1),
                                     SerialFrame::kReplyTag, SerialFrame::kReplyTag + kTagBytes);
    if (tag < packet + size) {
        ++cut_points_;
        parse_ += static_cast<uint32_t>(tag - packet);
        return true;
    }
    // Counted once the packet is complete, so a packet that arrives in pieces counts once.
    if (unknown_version && (error_count_++ % kErrorLogInterval) == 0) {
        SLOG_ERROR("serial recv error point cloud, protocol Version: %02x %02x", packet[2],
                   packet[3]);
    }
    points_.Push(packet, size);
    parse_ += size;
    return true;
}

}  // namespace lidar
}  // namespace krell
