#pragma once
// WriteWithin: the bounded write loop shared by the serial port and the simulator's pty lines.

#include <cstddef>
#include <cstdint>

namespace krell {
namespace lidar {

//! Writes all `size` bytes to the non-blocking descriptor `fd`, waiting while it is full, for at
//! most `timeout_ms` in all. Returns the count written (less on time-out or when the other end
//! hangs up part-way), or -1 when `fd` fails before any byte went out. Any thread; `fd` stays the
//! caller's.
int32_t WriteWithin(int fd, const uint8_t* data, size_t size, int timeout_ms);

}  // namespace lidar
}  // namespace krell
