// The RS-485 byte stream as the receive thread sees it: the input, cut into reads at points the
// input chooses, goes through SerialStreamParser into the reply and point-packet queues, and
// every queued packet must be one the rules allow.
//
// Input: byte 0 is the largest read (1..80 bytes); the rest is the line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "libkrell/Frame/serial_frame.h"
#include "libkrell/Source/packet_queue.h"
#include "libkrell/Source/serial_stream_parser.h"

namespace {

using krell::lidar::PacketQueue;
using krell::lidar::SerialFrame;
using krell::lidar::SerialStreamParser;
using krell::lidar::UdpPacket;

constexpr size_t kReplyRing = 10;
constexpr size_t kPointRing = 64;

void CheckReplies(PacketQueue& replies) {
    UdpPacket packet;
    while (replies.WaitPop(packet, 0)) {
        const size_t n = packet.length;
        if (n < SerialFrame::kTagBytes + 2 || n > UdpPacket::kDataBytes) std::abort();
        if (std::memcmp(packet.data, SerialFrame::kReplyTag, SerialFrame::kTagBytes) != 0)
            std::abort();
        if (packet.data[n - 2] != SerialFrame::kMark0 || packet.data[n - 1] != SerialFrame::kMark1)
            std::abort();
        std::vector<uint8_t> body;
        SerialFrame::CheckReply(packet.data, n, &body);
    }
}

void CheckPoints(PacketQueue& points) {
    UdpPacket packet;
    while (points.WaitPop(packet, 0)) {
        if (packet.length != 34 && packet.length != 80 && packet.length != 132) std::abort();
        if (packet.data[0] != SerialFrame::kMark0 || packet.data[1] != SerialFrame::kMark1)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static PacketQueue* replies = new PacketQueue(kReplyRing);
    static PacketQueue* points = new PacketQueue(kPointRing);
    replies->Clear();
    points->Clear();
    SerialStreamParser parser(*replies, *points);
    const size_t largest = 1 + data[0] % SerialStreamParser::kReadChunkBytes;
    ++data;
    --size;
    while (size > 0) {
        uint8_t* slot = parser.ReserveRead();
        if (slot == nullptr) std::abort();  // the parser must always make room for one read
        const size_t step = std::min(size, largest);
        std::memcpy(slot, data, step);
        parser.CommitRead(step);
        parser.Parse();
        data += step;
        size -= step;
        CheckReplies(*replies);
        CheckPoints(*points);
    }
    return 0;
}
