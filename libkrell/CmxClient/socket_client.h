#pragma once
// SocketClient: what the plain and the TLS transport share on top of ClientBase: the target
// address, the TCP socket, the opened flag and the socket options (time-outs, receive buffer).
// Adds no virtual operation of its own, so the slots stay those of ClientBase. Not internally
// locked (see ClientBase); the opened flag is atomic so that another thread may ask IsOpened
// while a connect runs.

#include <atomic>
#include <mutex>
#include <string>

#include "libkrell/CmxClient/client_base.h"
#include "libkrell/Handle/unique_fd.h"

namespace krell {
namespace lidar {

class SocketClient : public ClientBase {
public:
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    bool IsOpened() override { return opened_.load(); }
    //! Sets SO_RCVTIMEO on the open socket (the recorded time-outs stay); false, with a warning,
    //! when no socket is open.
    bool SetReceiveTimeout(uint32_t timeout_ms) override;
    //! Records both time-outs (re-applied after a reconnect) and sets them on the open socket;
    //! 0, or the first failing setsockopt result; -1, with a warning, when no socket is open.
    int32_t SetTimeout(uint32_t recv_timeout_ms, uint32_t send_timeout_ms) override;
    //! Raises SO_RCVBUF of the open socket to at least `size`; a warning when none is open.
    void SetReceiveBufferSize(uint32_t& size) override;
    //! shutdown(2) on the socket, from any thread; later opens are refused.
    void ShutDown() override;

protected:
    // A receive that took at least this long is noted in the debug log.
    static constexpr int64_t kSlowReceiveUs = 1000000;

    SocketClient() = default;

    //! True when opened towards exactly `ip`:`port` (Open and TryOpen then change nothing).
    bool SameAddress(const char* ip, uint16_t port) const;
    //! Stores the target address (a null `ip` as empty text).
    void StoreAddress(const char* ip, uint16_t port);
    //! Puts the time-outs recorded by SetTimeout on a new socket; false (nothing set) when
    //! SetTimeout has not been applied yet.
    bool RestoreTimeouts();
    //! Closes the socket if one is open (the opened flag is the caller's).
    void CloseSocket();
    //! Takes `fd` (may be -1) as the socket; false, with `fd` closed, once ShutDown was called.
    bool AdoptSocket(int fd);

    std::string server_ip_;
    uint16_t server_port_ = 0;
    UniqueFd socket_;  // replaced only under fd_mutex_, so that ShutDown never hits a reused fd
    std::atomic<bool> opened_{false};

private:
    uint32_t receive_buffer_size_ = 4096;
    uint32_t recv_timeout_ms_ = 500;
    uint32_t send_timeout_ms_ = 500;
    // Set once SetTimeout has been applied, so that an automatic reconnect restores the time-outs
    // on the new socket instead of leaving its reads unbounded.
    bool timeouts_applied_ = false;
    std::mutex fd_mutex_;  // guards replacing socket_ against ShutDown from another thread
    std::atomic<bool> shut_down_{false};
};

}  // namespace lidar
}  // namespace krell
