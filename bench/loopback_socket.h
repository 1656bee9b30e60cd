#pragma once
// Plain blocking loopback sockets for the bare baselines the benchmarks compare against: no
// protocol, no time-outs, nothing but the bytes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace bench_support {

inline bool ReadExact(int fd, uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, data + got, size - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

inline bool WriteAll(int fd, const uint8_t* data, size_t size) {
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

inline sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

//! A socket listening on 127.0.0.1 at a free port (written to `port`); -1 on failure.
inline int ListenOnLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof(addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

//! A socket connected to 127.0.0.1:`port`; -1 on failure.
inline int ConnectToLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = LoopbackAddress(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

//! A loopback listener whose one thread hands each accepted connection to `serve` (which returns
//! when the peer hangs up or a write fails) and then closes it. With `accept_many` it accepts the
//! next client after that, until destruction; otherwise it serves one. The destructor shuts the
//! listener down and joins the thread.
class LoopbackServer {
public:
    LoopbackServer(std::function<void(int fd)> serve, bool accept_many)
        : serve_(std::move(serve)), accept_many_(accept_many) {
        listen_fd_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackServer() {
        ::shutdown(listen_fd_, SHUT_RDWR);
        thread_.join();
        ::close(listen_fd_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    uint16_t Port() const { return port_; }

private:
    void Run() {
        do {
            const int fd = ::accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) return;
            serve_(fd);
            ::close(fd);
        } while (accept_many_);
    }

    std::function<void(int fd)> serve_;
    bool accept_many_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace bench_support
