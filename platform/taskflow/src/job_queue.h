#pragma once
// JobQueue: one worker's first-in first-out queue of jobs. The owner and any thread that submits
// to it push; the owner pops and idle workers steal from the same end, so a job never waits
// behind a worker that is blocked inside another job.
#include <atomic>
#include <cstddef>
#include <vector>

#include <oneapi/tbb/cache_aligned_allocator.h>
#include <oneapi/tbb/spin_mutex.h>

#include "taskflow/core/job.hpp"

namespace tf {

class alignas(64) JobQueue {
public:
    JobQueue();

    //! Appends `job` (left empty). Any thread. May throw std::bad_alloc when the ring must grow;
    //! the queue is then unchanged.
    void push(detail::Job&& job);
    //! Moves the oldest job into `out` and returns true, or returns false when empty. Any thread.
    bool pop(detail::Job& out);
    //! A hint without locking: true means the queue was empty at some recent moment. Any thread.
    //! Sequentially consistent, like the size update of push(): a worker that announces it is
    //! going to sleep and then finds every queue empty cannot miss a push that did not see it.
    bool looksEmpty() const { return size_.load() == 0; }

private:
    void grow();

    static constexpr size_t kInitialCapacity = 256;

    tbb::spin_mutex mutex_;        // guards ring_, head_ and tail_; held only to move one job
    std::atomic<size_t> size_{0};  // tail_ - head_, published for lock-free emptiness probes
    size_t head_ = 0;
    size_t tail_ = 0;
    std::vector<detail::Job, tbb::cache_aligned_allocator<detail::Job>> ring_;  // power-of-2 size
};

}  // namespace tf
