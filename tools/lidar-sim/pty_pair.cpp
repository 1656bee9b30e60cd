#include "tools/lidar-sim/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "libkrell/Source/write_within.h"

namespace krell {
namespace lidar {
namespace sim {

PtyPair::PtyPair() {
    char name[128] = {0};
    struct termios raw;
    ::cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = -1;
        slave_ = -1;
        return;
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slave_name_ = name;
}

PtyPair::~PtyPair() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
}

long PtyPair::Read(uint8_t* buffer, size_t size, int timeout_ms) {
    if (master_ < 0) return -1;
    struct pollfd entry = {master_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeout_ms);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    const long got = ::read(master_, buffer, size);
    if (got > 0) return got;
    return (got < 0 && (errno == EAGAIN || errno == EINTR)) ? 0 : -1;
}

bool PtyPair::Write(const uint8_t* data, size_t size, int timeout_ms) {
    if (master_ < 0) return false;
    return WriteWithin(master_, data, size, timeout_ms) == static_cast<int32_t>(size);
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell

namespace krell {
namespace lidar {
namespace sim {

void PtyPair::DiscardUnread() {
    if (slave_ >= 0) ::tcflush(slave_, TCIFLUSH);
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
