#pragma once
// Framing of the RS-485 byte stream: sorts command replies ("$LDACK," ... 0xEE 0xFF) and
// point-cloud packets (0xEE 0xFF, sized by their header) into two queues and skips everything
// else byte by byte. Owned and driven by one thread; it keeps no lock of its own.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "libkrell/Source/packet_queue.h"

namespace krell {
namespace lidar {

class SerialStreamParser {
public:
    static constexpr uint32_t kWorkBufferBytes = 0x14000;
    static constexpr uint32_t kReadChunkBytes = 80;

    //! The queues must outlive the parser; they are the only state it shares with other threads.
    SerialStreamParser(PacketQueue& replies, PacketQueue& points);

    //! Makes room for one read and returns where up to kReadChunkBytes may be written, or nullptr
    //! when the buffered bytes leave no room.
    uint8_t* ReserveRead();

    //! Records `count` bytes (at most kReadChunkBytes) written at the ReserveRead() position.
    void CommitRead(size_t count);

    //! Takes every complete frame and packet out of the buffered bytes.
    void Parse();

    //! Buffers `size` bytes in read-sized steps, parsing after each step as the receive thread does.
    void Feed(const uint8_t* data, size_t size);

    //! Forgets buffered bytes (a fresh line starts with no partial frame).
    void Reset();

    //! Point-cloud packets with an unknown protocol version, since construction.
    uint32_t ErrorCount() const { return error_count_; }

    //! Point-cloud packets dropped because they broke off before their length (a reply's tag
    //! inside them), since construction.
    uint32_t CutPointCount() const { return cut_points_; }

    //! Reply frames dropped because their end mark lay beyond the largest packet, since construction.
    uint32_t OversizedReplyCount() const { return oversized_replies_; }

private:
    bool TakeReply();
    bool TakePoint();

    PacketQueue& replies_;
    PacketQueue& points_;
    std::vector<uint8_t> buffer_;
    uint32_t fill_ = 0;
    uint32_t parse_ = 0;
    uint32_t error_count_ = 0;
    uint32_t oversized_replies_ = 0;
    uint32_t cut_points_ = 0;
};

}  // namespace lidar
}  // namespace krell
