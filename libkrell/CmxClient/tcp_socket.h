#pragma once
// Free TCP socket helpers shared by the two transports: connecting (blocking, or non-blocking
// bounded by a time-out) and the socket options both transports set. Every function logs its
// own failure once and returns -1 (or false); none throws.

#include <cstdint>

namespace krell {
namespace lidar {

//! Connected, blocking IPv4 TCP socket to ip:port, or -1. The caller owns the descriptor.
int tcp_open(const char* ip, uint16_t port);

//! Connected, blocking IPv4 TCP socket to ip:port, made with a connect bounded by `timeout_s`
//! seconds and bound to `local_port` when that is not 0 (falls back to any port), or -1.
int tcp_try_open(uint16_t local_port, const char* ip, uint16_t port, uint32_t timeout_s);

//! The bounded connect behind `tcp_try_open`; `who` names the caller in the "inet_pton" line
//! ("TryOpen" or "tcp_try_open"). Returns the socket or -1.
int TcpConnectWithTimeout(uint16_t local_port, const char* ip, uint16_t port, uint32_t timeout_s,
                          const char* who);

//! Sets SO_RCVTIMEO and then SO_SNDTIMEO; returns 0, or the first failing setsockopt result.
int32_t SetSocketTimeouts(int fd, uint32_t recv_timeout_ms, uint32_t send_timeout_ms);

//! Sets SO_RCVTIMEO only; true on success.
bool SetSocketReceiveTimeout(int fd, uint32_t timeout_ms);

//! Raises SO_RCVBUF to `size` bytes unless it is already at least that large.
void GrowSocketReceiveBuffer(int fd, uint32_t size);

//! Microseconds of a monotonic clock, for the slow-call diagnostics of the transports.
int64_t MonotonicMicros();

//! Switches O_NONBLOCK on or off; false when fcntl fails.
bool SetSocketBlocking(int fd, bool blocking);

//! True for the errno values after which the same call may simply be tried again (interrupted,
//! would-block); every other send/receive error means the connection is gone.
bool IsTransientErrno(int err);

//! True when the peer has closed or reset the connection (checked without waiting or reading).
bool PeerHungUp(int fd);

//! Waits until `fd` is ready for `events` (POLLIN/POLLOUT) or the monotonic time `deadline_us`
//! (MonotonicMicros; negative = no deadline) has passed. 1 ready, 0 timed out, -1 poll failed.
int WaitSocket(int fd, short events, int64_t deadline_us);

//! The deadline that the socket's SO_RCVTIMEO (`optname`) or SO_SNDTIMEO sets for a call
//! starting now: MonotonicMicros() + the time-out, or -1 when the socket has none (0).
int64_t SocketDeadline(int fd, int optname);

}  // namespace lidar
}  // namespace krell
