#pragma once
// FullBacklogListener: a loopback port that does not answer. It listens with the smallest
// backlog, never accepts, and fills its queue with its own connections, so a further connect
// attempt gets no reply (its SYN is dropped) until the caller's time-out.

#include <cstdint>
#include <vector>

#include "libkrell/Handle/unique_fd.h"

namespace krell {
namespace test {

class FullBacklogListener {
public:
    //! Sets up the listener and fills its queue; Port() is 0 when that failed.
    FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;

    uint16_t Port() const { return port_; }

private:
    UniqueFd listen_fd_;
    uint16_t port_ = 0;
    std::vector<UniqueFd> fillers_;
};

}  // namespace test
}  // namespace krell
