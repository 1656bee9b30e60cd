#pragma once
// TcpSslClient: the TLS transport of the CMX link (OpenSSL 3). The TLS context and session are
// owned here and released by Close(). Not internally locked (see ClientBase).
//
// Only TLS 1.2 and later with forward-secret key exchange are offered, the sensor's certificate
// must name the address connected to, a password-protected key is refused (never prompted for),
// and every wait (handshake, each read and write) is bounded by a deadline.

#include <openssl/ssl.h>

#include <cstdint>
#include <optional>
#include <string>

#include "libkrell/CmxClient/socket_client.h"
#include "libkrell/Handle/ssl_handles.h"

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
    //! Blocking reconnect with the stored address and files (used for the automatic reopen); the
    //! handshake is bounded by kHandshakeTimeoutMs.
    bool Open();
    //! As Open, from `local_port`, with connect and handshake together bounded by `timeout_s`
    //! seconds.
    bool TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool auto_receive,
                 const char* cert_path, const char* private_key_path, const char* ca_path,
                 uint32_t timeout_s) override;
    void Close() override;
    //! Writes all `len` bytes within the send time-out (never raises SIGPIPE); returns `len` or
    //! -1. A failed or timed-out write closes the transport (the session cannot go on).
    int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;
    //! All or nothing: returns `len` once that many bytes arrived within one receive time-out,
    //! else -1; a lost link closes the transport. Flags kReceiveNoWait reads nothing (-1 at
    //! once) but closes the transport when the peer has hung up.
    int32_t Receive(uint8_t* buf, uint32_t len, int32_t flags) override;

    //! Bound of the handshake of the blocking Open().
    static constexpr uint32_t kHandshakeTimeoutMs = 5000;

private:
    //! Builds a client context from the PEM files; null (logged) on any failure.
    static SslCtxPtr InitSslClient(const char* cert_path, const char* private_key_path,
                                   const char* ca_path);
    //! Loads certificate and key into `ctx`; false (logged) on failure.
    static bool LoadClientCertificate(SSL_CTX* ctx, const char* cert_path,
                                      const char* private_key_path);
    void StoreTarget(const char* ip, uint16_t port, const char* cert_path,
                     const char* private_key_path, const char* ca_path);
    //! Handshake over the connected `socket_`, finished by the monotonic `deadline_us` (steps
    //! shared by Open and TryOpen). False (logged once, with the reason) and closed on failure.
    bool Handshake(int64_t deadline_us);
    //! Drives SSL_connect to its end; false with `reason` filled on failure or time-out.
    bool RunHandshake(int64_t deadline_us, std::string& reason);
    //! Makes the handshake check that the certificate names `server_ip_`; false when refused.
    bool ExpectPeerIdentity();
    static const char* OrNull(const std::optional<std::string>& text);

    SslCtxPtr ctx_;
    SslPtr ssl_;
    std::optional<std::string> cert_path_;
    std::optional<std::string> private_key_path_;
    std::optional<std::string> ca_path_;
};

}  // namespace lidar
}  // namespace krell
