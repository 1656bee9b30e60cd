#pragma once
// MemoryTransport: a ClientBase over memory. A request "sent" makes the prepared reply pieces
// readable, one piece (or less) per read; when they are used up a read reports a time-out at
// once. No socket, no connect, no waiting: the CMX client's reply path runs at memory speed.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "libkrell/CmxClient/client_base.h"

namespace cmx_fuzz {

class MemoryTransport : public krell::lidar::ClientBase {
public:
    //! The pieces that answer the next request. Not thread-safe: one exchange at a time.
    void SetReply(std::vector<std::vector<uint8_t>> pieces) { reply_ = std::move(pieces); }

    bool Open(const char*, uint16_t, bool, const char*, const char*, const char*) override {
        opened_ = true;
        return true;
    }
    bool TryOpen(uint16_t, const char*, uint16_t, bool, const char*, const char*, const char*,
                 uint32_t) override {
        opened_ = true;
        return true;
    }
    void Close() override { opened_ = false; }
    bool IsOpened() override { return opened_; }
    int32_t Send(const uint8_t*, uint16_t len, int32_t) override {
        // A new request: what the last reply left unread is gone, this input's reply arrives.
        pending_.assign(reply_.begin(), reply_.end());
        offset_ = 0;
        return len;
    }
    int32_t Receive(uint8_t* buf, uint32_t len, int32_t) override {
        while (!pending_.empty() && offset_ >= pending_.front().size()) {
            pending_.pop_front();
            offset_ = 0;
        }
        if (pending_.empty()) return -1;  // a time-out, without the wait
        const std::vector<uint8_t>& piece = pending_.front();
        const size_t n = std::min<size_t>(len, piece.size() - offset_);
        std::memcpy(buf, piece.data() + offset_, n);
        offset_ += n;
        return static_cast<int32_t>(n);
    }
    bool SetReceiveTimeout(uint32_t) override { return opened_; }
    int32_t SetTimeout(uint32_t, uint32_t) override { return opened_ ? 0 : -1; }
    void SetReceiveBufferSize(uint32_t&) override {}

private:
    bool opened_ = true;
    std::vector<std::vector<uint8_t>> reply_;
    std::deque<std::vector<uint8_t>> pending_;
    size_t offset_ = 0;
};

}  // namespace cmx_fuzz
