#pragma once
// The far end of a pseudo-terminal: tests open the slave name as a serial port and play the
// sensor on the master side. Every read is bounded in time.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "libkrell/Source/write_within.h"

namespace krell_test {

class PtyPeer {
public:
    PtyPeer() {
        char name[128] = {0};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            name_ = name;
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPeer() {
        CloseMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& SlaveName() const { return name_; }

    // Writes every byte (waiting while the pty buffer is full, at most 2 s in all).
    bool Write(const std::vector<uint8_t>& bytes) {
        return krell::lidar::WriteWithin(master_, bytes.data(), bytes.size(), kWriteTimeoutMs) ==
               static_cast<int32_t>(bytes.size());
    }

    // Reads until `count` bytes arrived or `timeout_ms` passed; returns what arrived.
    std::vector<uint8_t> Read(size_t count, int timeout_ms) {
        std::vector<uint8_t> got;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        uint8_t chunk[512];
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            struct pollfd entry = {master_, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
            const ssize_t n = ::read(master_, chunk, std::min(sizeof(chunk), count - got.size()));
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return got;
    }

    // Pulls the plug: the slave side sees a hang-up.
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    static constexpr int kWriteTimeoutMs = 2000;

    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

}  // namespace krell_test
