#pragma once
// TcpSslClient: the TLS transport of the CMX link (OpenSSL 3). The TLS context and session are
// owned here and released by Close(). Not internally locked (see ClientBase).

#include <openssl/ssl.h>

#include <memory>
#include <optional>
#include <string>

#include "libkrell/CmxClient/socket_client.h"

namespace krell {
namespace lidar {

class TcpSslClient : public SocketClient {
public:
    TcpSslClient() = default;
    ~TcpSslClient() override;
    TcpSslClient(const TcpSslClient&) = delete;
    TcpSslClient& operator=(const TcpSslClient&) = delete;

    //! Blocking connect and TLS handshake with the given PEM files (null = not given; an empty
    //! text counts as given). False on failure (logged), then closed.
    bool Open(const char* ip, uint16_t port, bool auto_receive, const char* cert_path,
              const char* private_key_path, const char* ca_path) override;
    //! Blocking reconnect with the stored address and files (used for the automatic reopen).
    bool Open();
    //! As Open, with the TCP connect bounded by `timeout_s` seconds from `local_port`.
    bool TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool auto_receive,
                 const char* cert_path, const char* private_key_path, const char* ca_path,
                 uint32_t timeout_s) override;
    void Close() override;
    //! One SSL_write (never raises SIGPIPE); returns the count or -1.
    int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;
    //! All or nothing: returns `len` once that many bytes arrived, else -1. Flags kReceiveNoWait
    //! is not supported (-1 at once).
    int32_t Receive(uint8_t* buf, uint32_t len, int32_t flags) override;

private:
    struct CtxDeleter {
        void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
    };
    struct SslDeleter {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    using SslCtxPtr = std::unique_ptr<SSL_CTX, CtxDeleter>;
    using SslPtr = std::unique_ptr<SSL, SslDeleter>;

    //! Builds a client context from the PEM files; null (logged) on any failure.
    static SslCtxPtr InitSslClient(const char* cert_path, const char* private_key_path,
                                   const char* ca_path);
    void StoreTarget(const char* ip, uint16_t port, const char* cert_path,
                     const char* private_key_path, const char* ca_path);
    //! Handshake over the connected `socket_` (steps shared by Open and TryOpen).
    bool Handshake();
    static const char* OrNull(const std::optional<std::string>& text);

    SslCtxPtr ctx_;
    SslPtr ssl_;
    std::optional<std::string> cert_path_;
    std::optional<std::string> private_key_path_;
    std::optional<std::string> ca_path_;
};

}  // namespace lidar
}  // namespace krell
