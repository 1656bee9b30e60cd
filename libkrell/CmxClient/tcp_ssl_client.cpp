#include "libkrell/CmxClient/tcp_ssl_client.h"

#include <openssl/err.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "libkrell/CmxClient/tcp_socket.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

constexpr int kVerifyPeerAndFailIfNoCert = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
// A peer that accepts the TCP connection but never answers the handshake must not hold the
// connecting thread for ever.
constexpr uint32_t kHandshakeTimeoutMs = 5000;

// OpenSSL writes to the socket with plain write(), so a peer that has gone away would raise
// SIGPIPE and end the whole program. Block the signal on this thread for the duration of one
// TLS call and swallow a SIGPIPE that the call itself raised.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &block, &old_mask_);
    }
    ~SigpipeBlock() {
        if (!was_pending_) {
            sigset_t pipe_only;
            sigemptyset(&pipe_only);
            sigaddset(&pipe_only, SIGPIPE);
            timespec no_wait{0, 0};
            while (sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {}
        }
        pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t old_mask_;
    bool was_pending_ = false;
};

}  // namespace

TcpSslClient::~TcpSslClient() {
    Close();
}

const char* TcpSslClient::OrNull(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

TcpSslClient::SslCtxPtr TcpSslClient::InitSslClient(const char* cert_path,
                                                    const char* private_key_path,
                                                    const char* ca_path) {
    OPENSSL_init_ssl(0, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) {
        SLOG_ERROR("create SSL_CTX failed");
        return nullptr;
    }
    if (ca_path != nullptr) {
        SLOG_INFO("ca path: %s", ca_path);
        if (SSL_CTX_load_verify_locations(ctx.get(), ca_path, nullptr) != 1) {
            SLOG_ERROR("load ca failed,please check ca file path");
            return nullptr;
        }
    }
    if (cert_path != nullptr && private_key_path != nullptr) {
        SLOG_INFO("cert path: %s,\nprivate_key path: %s", cert_path, private_key_path);
        SSL_CTX_set_verify(ctx.get(), kVerifyPeerAndFailIfNoCert, nullptr);
        if (SSL_CTX_use_certificate_file(ctx.get(), cert_path, SSL_FILETYPE_PEM) != 1) {
            SLOG_ERROR("load cert file failed,please check cert file path");
            return nullptr;
        }
        if (SSL_CTX_use_PrivateKey_file(ctx.get(), private_key_path, SSL_FILETYPE_PEM) != 1) {
            SLOG_ERROR("load private key file failed,please check private key file path");
            return nullptr;
        }
        if (SSL_CTX_check_private_key(ctx.get()) != 1) {
            SLOG_ERROR("check private key failed");
            return nullptr;
        }
    }
    return ctx;
}

void TcpSslClient::StoreTarget(const char* ip, uint16_t port, const char* cert_path,
                               const char* private_key_path, const char* ca_path) {
    StoreAddress(ip, port);
    cert_path_ = cert_path ? std::optional<std::string>(cert_path) : std::nullopt;
    private_key_path_ =
        private_key_path ? std::optional<std::string>(private_key_path) : std::nullopt;
    ca_path_ = ca_path ? std::optional<std::string>(ca_path) : std::nullopt;
}

bool TcpSslClient::Open(const char* ip, uint16_t port, bool, const char* cert_path,
                        const char* private_key_path, const char* ca_path) {
    if (SameAddress(ip, port)) {
        return true;
    }
    SLOG_INFO("Open() IP %s port %u", ip ? ip : "", static_cast<unsigned>(port));
    Close();
    StoreTarget(ip, port, cert_path, private_key_path, ca_path);
    return Open();
}

bool TcpSslClient::Open() {
    Close();
    ctx_ = InitSslClient(OrNull(cert_path_), OrNull(private_key_path_), OrNull(ca_path_));
    if (!ctx_) {
        SLOG_ERROR("create SSL_CTX failed");
        return false;
    }
    socket_ = tcp_open(server_ip_.c_str(), server_port_);
    return Handshake();
}

bool TcpSslClient::TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool,
                           const char* cert_path, const char* private_key_path, const char* ca_path,
                           uint32_t timeout_s) {
    if (SameAddress(ip, port)) {
        return true;
    }
    Close();
    StoreTarget(ip, port, cert_path, private_key_path, ca_path);
    ctx_ = InitSslClient(OrNull(cert_path_), OrNull(private_key_path_), OrNull(ca_path_));
    if (!ctx_) {
        return false;
    }
    socket_ = tcp_try_open(local_port, server_ip_.c_str(), port, timeout_s);
    return Handshake();
}

bool TcpSslClient::Handshake() {
    if (socket_ < 0) {
        SLOG_ERROR("Connect to Server Failed!~!~");
        Close();
        return false;
    }
    ssl_.reset(SSL_new(ctx_.get()));
    if (!ssl_) {
        SLOG_ERROR("create ssl failed");
        Close();
        return false;
    }
    SSL_set_fd(ssl_.get(), socket_);
    SetSocketTimeouts(socket_, kHandshakeTimeoutMs, kHandshakeTimeoutMs);
    int connected = 0;
    {
        SigpipeBlock no_sigpipe;
        connected = SSL_connect(ssl_.get());
    }
    if (connected != 1) {
        SLOG_ERROR("connect ssl failed");
        Close();
        return false;
    }
    if (SSL_get_verify_result(ssl_.get()) != X509_V_OK) {
        SLOG_ERROR("verify ssl failed");
        Close();
        return false;
    }
    // Restore what the owner asked for; 0 (no time-out) until SetTimeout has been called.
    if (!RestoreTimeouts()) {
        SetSocketTimeouts(socket_, 0, 0);
    }
    SLOG_INFO("TcpSslClient::Open() success!");
    opened_ = true;
    return true;
}

void TcpSslClient::Close() {
    opened_ = false;
    if (ssl_) {
        SigpipeBlock no_sigpipe;
        SSL_shutdown(ssl_.get());
        ssl_.reset();
    }
    CloseSocket();
    ctx_.reset();
}

int32_t TcpSslClient::Send(const uint8_t* data, uint16_t len, int32_t) {
    if (!opened_.load() && !Open()) {
        return -1;
    }
    SigpipeBlock no_sigpipe;
    const int written = SSL_write(ssl_.get(), data, len);
    if (written == len) {
        return written;
    }
    const int err = SSL_get_error(ssl_.get(), written);
    if (written > 0 &&
        (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ || errno == EINTR)) {
        return written;
    }
    SLOG_ERROR("Send errno %d", errno);
    ERR_print_errors_fp(stderr);
    return -1;
}

int32_t TcpSslClient::Receive(uint8_t* buf, uint32_t len, int32_t flags) {
    if (flags == kReceiveNoWait) {
        return -1;
    }
    if (!opened_.load() && !Open()) {
        return -1;
    }
    const int64_t start_us = MonotonicMicros();
    uint32_t got = 0;
    SigpipeBlock no_sigpipe;
    while (got < len) {
        const int n = SSL_read(ssl_.get(), buf + got, static_cast<int>(len - got));
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR && SSL_get_error(ssl_.get(), n) != SSL_ERROR_SSL) {
            continue;
        }
        if (n < 0) {
            SLOG_ERROR("ssl receive failed");
            return -1;
        }
        break;
    }
    if (got < len) {
        SLOG_ERROR("ssl receive failed");
        return -1;
    }
    const int64_t elapsed_us = MonotonicMicros() - start_us;
    if (elapsed_us >= kSlowReceiveUs) {
        SLOG_DEBUG("Receive execu: %dus", static_cast<int>(elapsed_us));
    }
    return static_cast<int32_t>(len);
}

}  // namespace lidar
}  // namespace krell
