#include "tools/lidar-sim/sim_stream.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <utility>

namespace krell {
namespace lidar {
namespace sim {
namespace {

// Reads wake up this often to look at the stop flag.
constexpr int kPollIntervalMs = 100;
constexpr int kHandshakeLimitMs = 5000;

bool Retryable(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

}  // namespace

SimStream::SimStream(UniqueFd fd, SSL_CTX* ctx) : fd_(std::move(fd)) {
    timeval tv{0, kPollIntervalMs * 1000};
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    if (ctx != nullptr) {
        ssl_.reset(SSL_new(ctx));
        if (ssl_) {
            SSL_set_fd(ssl_.get(), fd_.get());
        }
    }
}

bool SimStream::Accept(const std::atomic<bool>& stop) {
    if (!ssl_) {
        return true;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandshakeLimitMs);
    while (!stop.load() && std::chrono::steady_clock::now() < deadline) {
        const int ret = SSL_accept(ssl_.get());
        if (ret == 1) {
            return true;
        }
        const int err = SSL_get_error(ssl_.get(), ret);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
            return false;
        }
    }
    return false;
}

bool SimStream::ReadExact(uint8_t* data, size_t size, const std::atomic<bool>& stop) {
    size_t got = 0;
    while (got < size) {
        if (stop.load()) {
            return false;
        }
        if (ssl_) {
            const int n = SSL_read(ssl_.get(), data + got, static_cast<int>(size - got));
            if (n > 0) {
                got += static_cast<size_t>(n);
            } else if (SSL_get_error(ssl_.get(), n) != SSL_ERROR_WANT_READ) {
                return false;
            }
            continue;
        }
        const ssize_t n = ::recv(fd_.get(), data + got, size - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || !Retryable(errno)) {
            return false;
        }
    }
    return true;
}

bool SimStream::WriteAll(const uint8_t* data, size_t size, bool more) {
    size_t sent = 0;
    while (sent < size) {
        if (ssl_) {
            const int n = SSL_write(ssl_.get(), data + sent, static_cast<int>(size - sent));
            if (n <= 0) {
                return false;
            }
            sent += static_cast<size_t>(n);
            continue;
        }
        const ssize_t n =
            ::send(fd_.get(), data + sent, size - sent, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

void SimStream::ShutdownNow() {
    ::shutdown(fd_.get(), SHUT_RDWR);
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
