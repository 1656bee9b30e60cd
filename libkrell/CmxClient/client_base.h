#pragma once
// ClientBase: the byte-stream transport under the CMX client (plain TCP or TCP with TLS).
// A transport is not internally locked: its owner serialises every use. Only `IsOpened` may be
// called from another thread while the owner works with it.

#include <cstdint>

namespace krell {
namespace lidar {

//! `Receive` flags value that asks for one read that does not wait.
constexpr int32_t kReceiveNoWait = 255;

class ClientBase {
public:
    virtual ~ClientBase() = default;

    //! Blocking connect to ip:port. True at once when already open to the same address. The three
    //! file names (TLS only) are PEM paths. False on failure (logged); the transport is then closed.
    virtual bool Open(const char* ip, uint16_t port, bool auto_receive, const char* cert_path,
                      const char* private_key_path, const char* ca_path) = 0;
    //! Connect bounded by `timeout_s` seconds, from `local_port` (0 = any). Same results as Open.
    virtual bool TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool auto_receive,
                         const char* cert_path, const char* private_key_path, const char* ca_path,
                         uint32_t timeout_s) = 0;
    //! Closes the connection; safe when already closed.
    virtual void Close() = 0;
    //! True while the connection stands as far as this side knows: false from the moment a
    //! read saw the peer close or a send/receive failed for good (not on a time-out). Any thread.
    virtual bool IsOpened() = 0;
    //! Sends `len` bytes; returns the count sent or -1. Reopens first when closed; a failure that
    //! ends the connection (EPIPE, ECONNRESET, ...) closes the transport.
    virtual int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) = 0;
    //! Receives into `buf` (at most `len` bytes); returns the count, 0 on orderly close, -1 on
    //! failure or time-out. Reopens first when closed; a close or a lost link closes the transport
    //! so that the next use reopens it.
    virtual int32_t Receive(uint8_t* buf, uint32_t len, int32_t flags) = 0;
    //! Sets the socket's receive time-out; false when no socket is open.
    virtual bool SetReceiveTimeout(uint32_t timeout_ms) = 0;
    //! Records and applies both time-outs; 0 on success, -1 when no socket is open.
    virtual int32_t SetTimeout(uint32_t recv_timeout_ms, uint32_t send_timeout_ms) = 0;
    //! Grows the socket's receive buffer to at least `size` bytes.
    virtual void SetReceiveBufferSize(uint32_t& size) = 0;
    //! Ends the connection from any thread: a send or receive in flight returns at once and the
    //! transport never reopens. For an owner that must not wait for a silent peer (disconnect,
    //! window close). Transports without a socket of their own need not do anything.
    virtual void ShutDown() {}
};

}  // namespace lidar
}  // namespace krell
