#include "libkrell/CmxClient/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "libkrell/Handle/unique_fd.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

timeval ToTimeval(uint32_t ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

// Waits until a non-blocking connect has finished; false on time-out, poll failure or a pending
// socket error. poll() rather than select() so that descriptors above FD_SETSIZE work.
bool WaitConnected(int fd, uint32_t timeout_s) {
    pollfd pfd{fd, POLLOUT, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    int ready = 0;
    do {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ready = ::poll(&pfd, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    int pending = 0;
    socklen_t size = sizeof(pending);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0) {
        return false;
    }
    return true;
}

}  // namespace

bool SetSocketBlocking(int fd, bool blocking) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

bool IsTransientErrno(int err) {
    return err == EINTR || err == EAGAIN || err == EWOULDBLOCK;
}

bool PeerHungUp(int fd) {
    pollfd pfd{fd, POLLRDHUP, 0};
    if (::poll(&pfd, 1, 0) <= 0) {
        return false;
    }
    return (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int WaitSocket(int fd, short events, int64_t deadline_us) {
    pollfd pfd{fd, events, 0};
    for (;;) {
        int wait_ms = -1;
        if (deadline_us >= 0) {
            const int64_t left_us = deadline_us - MonotonicMicros();
            if (left_us <= 0) {
                return 0;
            }
            // Rounded up, so that a wait never ends just before its deadline and spins.
            wait_ms = static_cast<int>(std::min<int64_t>((left_us + 999) / 1000, INT32_MAX));
        }
        const int ready = ::poll(&pfd, 1, wait_ms);
        if (ready > 0) {
            return 1;
        }
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
    }
}

int64_t SocketDeadline(int fd, int optname) {
    timeval tv{};
    socklen_t size = sizeof(tv);
    if (::getsockopt(fd, SOL_SOCKET, optname, &tv, &size) != 0 ||
        (tv.tv_sec == 0 && tv.tv_usec == 0)) {
        return -1;
    }
    return MonotonicMicros() + static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

int tcp_open(const char* ip, uint16_t port) {
    SLOG_INFO("ip:%s port:%d", ip, static_cast<int>(port));
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    if (fd.get() < 0) {
        SLOG_ERROR("socket errno:%d, %s", errno, std::strerror(errno));
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip, &addr.sin_addr) != 1) {
        SLOG_ERROR("tcp_open inet_pton error:%s", ip);
        return -1;
    }
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        SLOG_ERROR("connect errno:%d, %s", errno, std::strerror(errno));
        return -1;
    }
    return fd.release();
}

int TcpConnectWithTimeout(uint16_t local_port, const char* ip, uint16_t port, uint32_t timeout_s,
                          const char* who) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    if (fd.get() < 0) {
        return -1;
    }
    if (local_port != 0) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(local_port);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
            SLOG_ERROR("Failed to bind local port, system will auto assign one");
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip, &addr.sin_addr) != 1) {
        SLOG_ERROR("%s inet_pton error:%s", who, ip);
        return -1;
    }
    if (!SetSocketBlocking(fd.get(), false)) {
        return -1;
    }
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 &&
        errno != EINPROGRESS && errno != EWOULDBLOCK) {
        SLOG_ERROR("socket Connection error.");
        return -1;
    }
    if (!WaitConnected(fd.get(), timeout_s) || !SetSocketBlocking(fd.get(), true)) {
        return -1;
    }
    return fd.release();
}

int tcp_try_open(uint16_t local_port, const char* ip, uint16_t port, uint32_t timeout_s) {
    return TcpConnectWithTimeout(local_port, ip, port, timeout_s, "tcp_try_open");
}

int32_t SetSocketTimeouts(int fd, uint32_t recv_timeout_ms, uint32_t send_timeout_ms) {
    timeval recv_tv = ToTimeval(recv_timeout_ms);
    int ret = ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &recv_tv, sizeof(recv_tv));
    if (ret != 0) {
        return ret;
    }
    timeval send_tv = ToTimeval(send_timeout_ms);
    return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_tv, sizeof(send_tv));
}

bool SetSocketReceiveTimeout(int fd, uint32_t timeout_ms) {
    timeval tv = ToTimeval(timeout_ms);
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) == 0;
}

void GrowSocketReceiveBuffer(int fd, uint32_t size) {
    int current = 0;
    socklen_t len = sizeof(current);
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &current, &len) != 0 ||
        static_cast<uint32_t>(current) >= size) {
        return;
    }
    int wanted = static_cast<int>(size);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
}

int64_t MonotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace lidar
}  // namespace krell
