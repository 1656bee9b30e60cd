#pragma once
// TcpSslClient: the TLS transport of the CMX link (OpenSSL 3). The TLS context and session are
// owned here and released by Close(). Not internally locked (see ClientBase).

#include <openssl/ssl.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "libkrell/CmxClient/client_base.h"

namespace krell {
namespace lidar {

class TcpSslClient : public ClientBase {
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
  bool IsOpened() override { return opened_.load(); }
  //! One SSL_write (never raises SIGPIPE); returns the count or -1.
  int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;
  //! All or nothing: returns `len` once that many bytes arrived, else -1. Flags kReceiveNoWait
  //! is not supported (-1 at once).
  int32_t Receive(uint8_t* buf, uint32_t len, int32_t flags) override;
  bool SetReceiveTimeout(uint32_t timeout_ms) override;
  int32_t SetTimeout(uint32_t recv_timeout_ms, uint32_t send_timeout_ms) override;
  void SetReceiveBufferSize(uint32_t& size) override;

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
  bool SameAddress(const char* ip, uint16_t port) const;
  void StoreTarget(const char* ip, uint16_t port, const char* cert_path,
                   const char* private_key_path, const char* ca_path);
  //! Handshake over the connected `socket_` (steps shared by Open and TryOpen).
  bool Handshake();
  static const char* OrNull(const std::optional<std::string>& text);

  std::string server_ip_;
  uint16_t server_port_ = 0;
  uint32_t receive_buffer_size_ = 4096;
  uint32_t recv_timeout_ms_ = 500;
  uint32_t send_timeout_ms_ = 500;
  SslCtxPtr ctx_;
  int socket_ = -1;
  SslPtr ssl_;
  std::optional<std::string> cert_path_;
  std::optional<std::string> private_key_path_;
  std::optional<std::string> ca_path_;
  std::atomic<bool> opened_{false};
  // See TcpClient: a reconnect restores the time-outs that were applied before.
  bool timeouts_applied_ = false;
};

}  // namespace lidar
}  // namespace krell
