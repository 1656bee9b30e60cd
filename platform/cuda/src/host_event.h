// One event of the host CUDA stand-in: a point in a stream's work with its completion time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace krell::cuda_host {

class HostEvent {
public:
    using Clock = std::chrono::steady_clock;

    //! timing false: the event orders work but gives no elapsed time.
    explicit HostEvent(bool timing) : timing_(timing) {}

    bool timing() const { return timing_; }

    //! Starts a new recording and returns its number; complete(number) marks it reached.
    uint64_t beginRecord();
    //! Marks recording number reached now (older numbers are implied). Any thread.
    void complete(uint64_t number);
    //! Blocks until the latest recording (as of the call) is reached.
    void wait();
    //! Blocks until recording number is reached.
    void waitFor(uint64_t number);
    //! True when the latest recording is reached (or none was made).
    bool reached() const;
    //! True when at least one recording has been reached.
    bool hasTime() const;
    //! Time at which the latest reached recording completed.
    Clock::time_point time() const;
    //! The number of the latest recording.
    uint64_t latest() const;

private:
    const bool timing_;
    mutable std::mutex mutex_;  // guards every field below
    std::condition_variable reached_cv_;
    uint64_t recorded_ = 0;
    uint64_t completed_ = 0;
    Clock::time_point time_{};
};

}  // namespace krell::cuda_host
