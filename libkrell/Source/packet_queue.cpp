#include "libkrell/Source/packet_queue.h"

#include <chrono>
#include <cstring>

namespace krell {
namespace lidar {

PacketQueue::PacketQueue(size_t capacity) : ring_(capacity == 0 ? 1 : capacity) {}

bool PacketQueue::Push(const uint8_t* data, size_t size) {
    if (size > UdpPacket::kDataBytes) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == ring_.size()) {
            read_index_ = (read_index_ + 1) % ring_.size();
            --count_;
            ++dropped_;
        }
        UdpPacket& slot = ring_[(read_index_ + count_) % ring_.size()];
        std::memcpy(slot.data, data, size);
        // Zero the tail so a reader never sees bytes of an older packet.
        std::memset(slot.data + size, 0, UdpPacket::kDataBytes - size);
        slot.length = static_cast<uint16_t>(size);
        slot.reserved = 0;
        slot.ip = 0;
        slot.port = 0;
        slot.timeout = 0;
        ++count_;
    }
    ready_.notify_one();
    return true;
}

bool PacketQueue::WaitPop(UdpPacket& out, int32_t wait_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait_ms > 0) {
        ready_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                        [this] { return count_ > 0 || interrupted_; });
    }
    if (count_ == 0) return false;
    out = ring_[read_index_];
    read_index_ = (read_index_ + 1) % ring_.size();
    --count_;
    return true;
}

void PacketQueue::Interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
    }
    ready_.notify_all();
}

void PacketQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    read_index_ = 0;
    count_ = 0;
}

size_t PacketQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

uint64_t PacketQueue::DroppedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

}  // namespace lidar
}  // namespace krell
