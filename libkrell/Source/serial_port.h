#pragma once
// Owner of one open serial device (a tty): raw 8N1 at any line speed the driver accepts, bounded
// waits for input and for output. The kernel's termios2 interface lives in the .cpp alone because
// its header clashes with <termios.h>.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "libkrell/Handle/unique_fd.h"

namespace krell {
namespace lidar {

class SerialPort {
public:
    enum class WaitResult { kReadable, kTimeout, kGone };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    //! Opens `name` exclusively (an existing device only) at `baud`, raw 8N1, no flow control.
    //! Closes any port held before. False on failure, with one log line naming the port and cause.
    bool Open(const std::string& name, uint32_t baud);

    //! Closes the device; safe when already closed. Not while another thread waits or reads.
    void Close();

    //! True while a device is held. Any thread.
    bool IsOpen() const { return fd_.load() >= 0; }

    //! Waits up to `timeout_ms` for input. kGone when the device hung up or reports an error.
    WaitResult WaitReadable(int timeout_ms);

    //! Reads what is waiting, at most `size` bytes, without blocking: the count read, 0 when nothing
    //! was waiting, -1 on a read error (errno kept for the caller's log line).
    long Read(uint8_t* buffer, size_t size);

    //! Writes all `size` bytes within `timeout_ms`: the count written (less on time-out), or -1 when
    //! the device refused the write or is closed.
    int32_t Write(const uint8_t* data, size_t size, int timeout_ms);

    //! Discards input received but not yet read. False when the port is closed or refuses.
    bool DiscardInput();

private:
    bool Configure(int fd, const std::string& name, uint32_t baud);

    UniqueFd tty_;
    // The descriptor tty_ holds, readable from any thread for IsOpen; -1 when closed.
    std::atomic<int> fd_{-1};
};

}  // namespace lidar
}  // namespace krell
