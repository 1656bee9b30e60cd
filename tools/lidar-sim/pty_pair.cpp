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
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) return;
    master_.reset(master);
    slave_.reset(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    slave_name_ = name;
}

PtyPair::~PtyPair() = default;

long PtyPair::Read(uint8_t* buffer, size_t size, int timeout_ms) {
    if (!master_) return -1;
    struct pollfd entry = {master_.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeout_ms);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    const long got = ::read(master_.get(), buffer, size);
    if (got > 0) return got;
    return (got < 0 && (errno == EAGAIN || errno == EINTR)) ? 0 : -1;
}

void PtyPair::WaitForInput(const PtyPair& first, const PtyPair& second, int timeout_ms) {
    struct pollfd entries[2] = {{first.master_.get(), POLLIN, 0},
                                {second.master_.get(), POLLIN, 0}};
    ::poll(entries, 2, timeout_ms);
}

bool PtyPair::Write(const uint8_t* data, size_t size, int timeout_ms) {
    if (!master_) return false;
    return WriteWithin(master_.get(), data, size, timeout_ms) == static_cast<int32_t>(size);
}

void PtyPair::DiscardUnread() {
    if (slave_) ::tcflush(slave_.get(), TCIFLUSH);
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
