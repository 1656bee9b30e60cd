#include "tools/lidar-sim/point_stream.h"

#include <algorithm>
#include <cstring>

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr uint8_t kGarbage[] = {0x24, 0x4C, 0x44, 0x00, 0xEE, 0x13, 0x7F};
constexpr size_t kTruncatedBytes = 20;
constexpr uint64_t kMicrosPerSecond = 1000000;

}  // namespace

PointStream::PointStream(const Options& options) : options_(options) {}

std::vector<uint8_t> PointStream::Packet(uint32_t sequence) {
    static const size_t kCycle[] = {kPacketBytes, kPacketBytes, kLongPacketBytes,
                                    kShortPacketBytes};
    const size_t size = kCycle[sequence % 4];
    std::vector<uint8_t> packet(size, 0);
    packet[0] = 0xEE;
    packet[1] = 0xFF;
    packet[2] = 0x01;
    packet[3] = size == kLongPacketBytes ? 0x0C : 0x08;
    packet[5] = size == kShortPacketBytes ? 1 : 0;
    std::memcpy(packet.data() + kSequenceOffset, &sequence, sizeof(sequence));
    for (size_t i = kSequenceOffset + sizeof(sequence); i < size; ++i) {
        packet[i] = static_cast<uint8_t>(i * 13 + sequence);
    }
    if (size == kPacketBytes) packet[kInfoIdOffset] = 0;
    return packet;
}

void PointStream::SetInfoFields(std::vector<std::vector<uint8_t>> packets) {
    info_fields_.clear();
    for (auto& packet : packets)
        if (packet.size() == kPacketBytes) info_fields_.push_back(std::move(packet));
    next_info_ = 0;
}

std::vector<uint8_t> PointStream::Next() {
    const uint32_t sequence = sequence_++;
    std::vector<uint8_t> out;
    const uint32_t n = sequence + 1;
    if (options_.garbage_every != 0 && n % options_.garbage_every == 0) {
        out.assign(kGarbage, kGarbage + sizeof(kGarbage));
    }
    std::vector<uint8_t> packet = Packet(sequence);
    if (packet.size() == kPacketBytes && !info_fields_.empty()) {
        const std::vector<uint8_t>& info = info_fields_[next_info_++ % info_fields_.size()];
        std::copy(info.begin() + kInfoIdOffset, info.end(), packet.begin() + kInfoIdOffset);
    }
    if (options_.truncate_every != 0 && n % options_.truncate_every == 0) {
        packet.resize(kTruncatedBytes);
    } else {
        ++whole_;
    }
    out.insert(out.end(), packet.begin(), packet.end());
    return out;
}

std::vector<uint8_t> PointStream::Due(uint64_t elapsed_us) {
    const uint64_t due = elapsed_us * options_.packets_per_second / kMicrosPerSecond;
    std::vector<uint8_t> out;
    while (sequence_ < due) {
        const std::vector<uint8_t> next = Next();
        out.insert(out.end(), next.begin(), next.end());
    }
    return out;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
