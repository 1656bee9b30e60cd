#include "tests/libkrell/CmxClient/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace krell {
namespace test {
namespace {

constexpr int kStopCheckMs = 20;

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` in slices, so that a stopping peer is noticed; false on time-out or stop.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        const int left = MsLeft(deadline);
        if (left == 0) {
            return false;
        }
        pollfd pfd{fd, events, 0};
        if (::poll(&pfd, 1, left < kStopCheckMs ? left : kStopCheckMs) > 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

PeerConnection::PeerConnection(UniqueFd fd, SSL_CTX* tls, const std::atomic<bool>& stop)
    : fd_(std::move(fd)), stop_(stop) {
    if (tls != nullptr) {
        ssl_.reset(SSL_new(tls));
        SSL_set_fd(ssl_.get(), fd_.get());
    }
}

bool PeerConnection::Handshake(int limit_ms) {
    if (!ssl_) {
        return true;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (WaitFor(fd_.get(), POLLIN, deadline, stop_)) {
        ERR_clear_error();
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

bool PeerConnection::ReadExact(size_t size, int limit_ms, std::vector<uint8_t>* out) {
    std::vector<uint8_t> bytes(size);
    size_t got = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (got < size) {
        if ((!ssl_ || SSL_pending(ssl_.get()) == 0) &&
            !WaitFor(fd_.get(), POLLIN, deadline, stop_)) {
            return false;
        }
        const int n =
            ssl_
                ? SSL_read(ssl_.get(), bytes.data() + got, static_cast<int>(size - got))
                : static_cast<int>(::recv(fd_.get(), bytes.data() + got, size - got, MSG_DONTWAIT));
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (ssl_ ? SSL_get_error(ssl_.get(), n) != SSL_ERROR_WANT_READ
                        : (n == 0 || (errno != EAGAIN && errno != EINTR))) {
            return false;
        }
    }
    if (out != nullptr) {
        *out = std::move(bytes);
    }
    return true;
}

bool PeerConnection::Write(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        return true;
    }
    if (ssl_) {
        return SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size())) ==
               static_cast<int>(bytes.size());
    }
    return ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

bool PeerConnection::Trickle(const std::vector<uint8_t>& bytes, int gap_ms) {
    for (uint8_t byte : bytes) {
        if (!Write({byte}) || !Sleep(gap_ms)) {
            return false;
        }
    }
    return true;
}

bool PeerConnection::Sleep(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_.load() && Clock::now() < deadline) {
        const int left = MsLeft(deadline);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(left < kStopCheckMs ? left : kStopCheckMs));
    }
    return !stop_.load();
}

ScriptedPeer::ScriptedPeer(Script script, SslCtxPtr tls)
    : script_(std::move(script)), tls_(std::move(tls)) {
    listener_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (!listener_ || ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_.get(), 4) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ScriptedPeer::Serve() {
    // A client that hangs up must end the script's writes with an error, not the test process.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
    while (!stop_.load()) {
        pollfd pfd{listener_.get(), POLLIN, 0};
        if (::poll(&pfd, 1, kStopCheckMs) <= 0) {
            continue;
        }
        UniqueFd fd(::accept(listener_.get(), nullptr, nullptr));
        if (!fd) {
            continue;
        }
        // Non-blocking, so that no TLS call can outlast the peer's own bounded waits.
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL, 0) | O_NONBLOCK);
        ++connections_;
        PeerConnection connection(std::move(fd), tls_.get(), stop_);
        script_(connection);
    }
}

SslCtxPtr MakeServerContext(const std::string& cert, const std::string& key, int min_version,
                            int max_version, const std::string& ciphers) {
    SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
    const bool old_protocol = max_version != 0 && max_version < TLS1_2_VERSION;
    // TLS 1.0/1.1 (and their SHA-1 signatures) only load at security level 0 in OpenSSL 3.
    const std::string cipher_text =
        (ciphers.empty() ? std::string("DEFAULT") : ciphers) + (old_protocol ? ":@SECLEVEL=0" : "");
    if (!ctx || SSL_CTX_use_certificate_file(ctx.get(), cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx.get(), key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        (min_version != 0 && SSL_CTX_set_min_proto_version(ctx.get(), min_version) != 1) ||
        (max_version != 0 && SSL_CTX_set_max_proto_version(ctx.get(), max_version) != 1) ||
        SSL_CTX_set_cipher_list(ctx.get(), cipher_text.c_str()) != 1) {
        return nullptr;
    }
    return ctx;
}

}  // namespace test
}  // namespace krell
