#include "tests/support/full_backlog_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace krell {
namespace test {
namespace {

constexpr int kMaxFillers = 64;
constexpr int kFillerConnectWaitMs = 200;

// True when a non-blocking connect to `addr` completes within the wait; `fd` stays open either
// way and belongs to the caller.
bool ConnectsQuickly(int fd, const sockaddr_in& addr) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
        return true;
    }
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, kFillerConnectWaitMs) != 1) {
        return false;
    }
    int err = 0;
    socklen_t len = sizeof(err);
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

}  // namespace

FullBacklogListener::FullBacklogListener() {
    listen_fd_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (!listen_fd_ ||
        ::bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(listen_fd_.get(), 0) != 0 ||
        ::getsockname(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return;
    }
    for (int i = 0; i < kMaxFillers; ++i) {
        UniqueFd filler(::socket(AF_INET, SOCK_STREAM, 0));
        if (!filler) {
            return;
        }
        fillers_.push_back(std::move(filler));
        if (!ConnectsQuickly(fillers_.back().get(), addr)) {
            port_ = ntohs(addr.sin_port);  // the queue is full: this attempt went unanswered
            return;
        }
    }
}

}  // namespace test
}  // namespace krell
