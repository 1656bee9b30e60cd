#pragma once
// Point-cloud packets as a serial Minka sensor sends them on its RS-485 line: 80-byte packets
// (protocol 01 08), 132-byte packets (01 0C) and 34-byte short packets (kind byte 1), with stray
// bytes and truncated packets mixed in on demand. Not thread-safe: one writer thread owns it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krell {
namespace lidar {
namespace sim {

class PointStream {
public:
    static constexpr size_t kShortPacketBytes = 34;
    static constexpr size_t kPacketBytes = 80;
    static constexpr size_t kLongPacketBytes = 132;
    static constexpr size_t kSequenceOffset = 8;
    static constexpr size_t kInfoIdOffset = 71;

    struct Options {
        uint32_t packets_per_second = 1000;
        uint32_t garbage_every = 0;   //!< every n-th packet is preceded by stray bytes (0: never)
        uint32_t truncate_every = 0;  //!< every n-th packet is cut short (0: never)
    };

    explicit PointStream(const Options& options);

    //! Bytes of the packets due by `elapsed_us` since the stream started and not yet produced.
    std::vector<uint8_t> Due(uint64_t elapsed_us);

    //! The next packet (with its garbage or truncation, if due); advances the sequence.
    std::vector<uint8_t> Next();

    //! From now on every 80-byte packet carries the information field (bytes 71 to 79) of the
    //! next of `packets` in turn, as a Minka sensor mixes its information into the stream. An
    //! empty list (the default) leaves id 0, which names no information.
    void SetInfoFields(std::vector<std::vector<uint8_t>> packets);

    //! Packets produced whole so far (truncated ones not counted).
    uint64_t WholePackets() const { return whole_; }

    //! Packet `sequence` of the regular cycle 80, 80, 132, 34, whole and unmodified.
    static std::vector<uint8_t> Packet(uint32_t sequence);

private:
    Options options_;
    uint32_t sequence_ = 0;
    uint64_t whole_ = 0;
    std::vector<std::vector<uint8_t>> info_fields_;
    size_t next_info_ = 0;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
