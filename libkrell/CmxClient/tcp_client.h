#pragma once
// TcpClient: the plain TCP transport of the CMX link. Not internally locked (see ClientBase).

#include "libkrell/CmxClient/socket_client.h"

namespace krell {
namespace lidar {

class TcpClient : public SocketClient {
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
    //! One send call (never raises SIGPIPE); returns the count or -1.
    int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;
    //! One read; flags kReceiveNoWait reads without waiting and logs nothing.
    int32_t Receive(uint8_t* buf, uint32_t len, int32_t flags) override;
};

}  // namespace lidar
}  // namespace krell
