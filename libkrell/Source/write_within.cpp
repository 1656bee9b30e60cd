#include "libkrell/Source/write_within.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace krell {
namespace lidar {
namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int32_t WriteWithin(int fd, const uint8_t* data, size_t size, int timeout_ms) {
    const int64_t deadline_ms = NowMs() + timeout_ms;
    size_t done = 0;
    while (done < size) {
        const long wrote = ::write(fd, data + done, size - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EINTR)
            return done > 0 ? static_cast<int32_t>(done) : -1;
        const int64_t left_ms = deadline_ms - NowMs();
        if (left_ms <= 0) break;
        struct pollfd entry = {fd, POLLOUT, 0};
        if (::poll(&entry, 1, static_cast<int>(left_ms)) < 0 && errno != EINTR) break;
        if (entry.revents & (POLLERR | POLLHUP | POLLNVAL))
            return done > 0 ? static_cast<int32_t>(done) : -1;
    }
    return static_cast<int32_t>(done);
}

}  // namespace lidar
}  // namespace krell
