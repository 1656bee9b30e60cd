#pragma once
// Bounded ring of packets between a receive thread and its readers. A full ring drops its oldest
// packet, so a slow reader loses old data rather than stalling the line.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "libkrell/Source/udp_packet.h"

namespace krell {
namespace lidar {

class PacketQueue {
public:
    //! Allocates all `capacity` packet slots at once (capacity must be at least 1).
    explicit PacketQueue(size_t capacity);

    //! Appends a copy of `size` bytes (at most UdpPacket::kDataBytes; longer input is refused and
    //! false returned). A full ring drops its oldest packet first. Wakes one waiting reader. Any thread.
    bool Push(const uint8_t* data, size_t size);

    //! Waits up to `wait_ms` for a packet; on success copies the oldest into `out`, removes it and
    //! returns true. Any thread.
    bool WaitPop(UdpPacket& out, int32_t wait_ms);

    //! Wakes every waiting reader and makes later waits return at once (false when empty); for
    //! an owner that is closing the line and must not wait out a reply time-out. Any thread.
    void Interrupt();

    //! Removes every queued packet. Any thread.
    void Clear();

    //! Number of queued packets. Any thread.
    size_t Size() const;

    //! Packets dropped because the ring was full, since construction. Any thread.
    uint64_t DroppedCount() const;

    size_t Capacity() const { return ring_.size(); }

private:
    mutable std::mutex mutex_;  // guards ring_, read_index_, count_, dropped_ and interrupted_
    std::condition_variable ready_;
    std::vector<UdpPacket> ring_;
    size_t read_index_ = 0;
    size_t count_ = 0;
    uint64_t dropped_ = 0;
    bool interrupted_ = false;
};

}  // namespace lidar
}  // namespace krell
