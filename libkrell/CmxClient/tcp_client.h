#pragma once
// TcpClient: the plain TCP transport of the CMX link. Not internally locked (see ClientBase);
// the opened flag is atomic so that another thread may ask IsOpened while a connect runs.

#include <atomic>
#include <string>

#include "libkrell/CmxClient/client_base.h"

namespace krell {
namespace lidar {

class TcpClient : public ClientBase {
 public:
  TcpClient() = default;
  ~TcpClient() override;
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  //! Blocking connect; the file names are ignored. False on failure (logged), then closed.
  bool Open(const char* ip, uint16_t port, bool auto_receive, const char* cert_path,
            const char* private_key_path, const char* ca_path) override;
  //! Blocking reconnect to the stored address (used when Send/Receive find the link closed).
  bool Open();
  //! Connect bounded by `timeout_s` seconds; the file names are ignored.
  bool TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool auto_receive,
               const char* cert_path, const char* private_key_path, const char* ca_path,
               uint32_t timeout_s) override;
  void Close() override;
  bool IsOpened() override { return opened_.load(); }
  //! One send call (never raises SIGPIPE); returns the count or -1.
  int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;
  //! One read; flags kReceiveNoWait reads without waiting and logs nothing.
  int32_t Receive(uint8_t* buf, uint32_t len, int32_t flags) override;
  bool SetReceiveTimeout(uint32_t timeout_ms) override;
  int32_t SetTimeout(uint32_t recv_timeout_ms, uint32_t send_timeout_ms) override;
  void SetReceiveBufferSize(uint32_t& size) override;

 private:
  bool SameAddress(const char* ip, uint16_t port) const;

  std::string server_ip_;
  uint16_t server_port_ = 0;
  int socket_ = -1;
  std::atomic<bool> opened_{false};
  uint32_t receive_buffer_size_ = 4096;
  uint32_t recv_timeout_ms_ = 500;
  uint32_t send_timeout_ms_ = 500;
  // Set once SetTimeout has been applied, so that an automatic reconnect restores the time-outs
  // on the new socket instead of leaving its reads unbounded.
  bool timeouts_applied_ = false;
};

}  // namespace lidar
}  // namespace krell
