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

#include "libkrell/Handle/unique_fd.h"
#include "libkrell/Source/write_within.h"

namespace krell_test {

class PtyPeer {
public:
    PtyPeer() {
        char name[128] = {0};
        int master = -1;
        int slave = -1;
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            master_.reset(master);
            slave_.reset(slave);
            name_ = name;
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return master_.valid(); }
    const std::string& SlaveName() const { return name_; }

    // Writes every byte (waiting while the pty buffer is full, at most 2 s in all).
    bool Write(const std::vector<uint8_t>& bytes) {
        return krell::lidar::WriteWithin(master_.get(), bytes.data(), bytes.size(),
                                         kWriteTimeoutMs) == static_cast<int32_t>(bytes.size());
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
            struct pollfd entry = {master_.get(), POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
            const ssize_t n =
                ::read(master_.get(), chunk, std::min(sizeof(chunk), count - got.size()));
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return got;
    }

    // Pulls the plug: the slave side sees a hang-up.
    void CloseMaster() { master_.reset(); }

private:
    static constexpr int kWriteTimeoutMs = 2000;

    krell::UniqueFd master_;
    krell::UniqueFd slave_;
    std::string name_;
};

}  // namespace krell_test
