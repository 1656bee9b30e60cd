#pragma once
// One pseudo-terminal pair: the virtual sensor holds the master end, a serial client opens the
// slave by its name as if it were a serial adapter.

#include <cstddef>
#include <cstdint>
#include <string>

#include "libkrell/Handle/unique_fd.h"

namespace krell {
namespace lidar {
namespace sim {

class PtyPair {
public:
    //! Opens a pair with the slave in raw mode; Ok() tells whether it worked.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_.valid(); }

    //! Path of the slave end (for example /dev/pts/4).
    const std::string& SlaveName() const { return slave_name_; }

    //! Waits up to `timeout_ms` for input from the slave side and reads what is there: the count,
    //! 0 when nothing came, -1 when the pair is broken.
    long Read(uint8_t* buffer, size_t size, int timeout_ms);

    //! Waits up to `timeout_ms` until either pair has input from its slave side (or is broken), so
    //! that one thread serving two lines answers each as soon as something arrives.
    static void WaitForInput(const PtyPair& first, const PtyPair& second, int timeout_ms);

    //! Writes all bytes towards the slave, waiting at most `timeout_ms` while the line is full.
    //! Returns false when not everything could be written.
    bool Write(const uint8_t* data, size_t size, int timeout_ms);

    //! Drops what was written towards the slave but not read yet (nobody listens on the line).
    void DiscardUnread();

private:
    UniqueFd master_;
    UniqueFd slave_;  // held so the master never reads a hang-up between client sessions
    std::string slave_name_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
