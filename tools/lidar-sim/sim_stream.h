#pragma once
// SimStream: one accepted connection of the virtual sensor, plain TCP or TLS. Owns the socket
// and the TLS session. Used by one connection thread; ShutdownNow may come from another thread.

#include <openssl/ssl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "libkrell/Handle/ssl_handles.h"
#include "libkrell/Handle/unique_fd.h"

namespace krell {
namespace lidar {
namespace sim {

class SimStream {
public:
    //! Takes the accepted socket `fd`. With a non-null `ctx` (borrowed for the call) the TLS
    //! handshake runs in Accept().
    SimStream(UniqueFd fd, SSL_CTX* ctx);
    SimStream(const SimStream&) = delete;
    SimStream& operator=(const SimStream&) = delete;

    //! Finishes the TLS handshake (nothing to do for plain TCP). False on failure or stop.
    bool Accept(const std::atomic<bool>& stop);
    //! Reads exactly `size` bytes; false on close, error, or when `stop` becomes true.
    bool ReadExact(uint8_t* data, size_t size, const std::atomic<bool>& stop);
    //! Writes all bytes; false on error. `more`: further bytes follow at once, so plain TCP holds
    //! these back to go out with them (a header need not be copied in front of a large payload).
    bool WriteAll(const uint8_t* data, size_t size, bool more = false);
    //! Wakes a blocked reader and ends the connection. Any thread.
    void ShutdownNow();

private:
    UniqueFd fd_;
    SslPtr ssl_;  // declared after fd_: the session is freed before its socket closes
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
