#include "job_queue.h"

#include <utility>

namespace tf {

JobQueue::JobQueue() : ring_(kInitialCapacity) {}

void JobQueue::push(detail::Job&& job) {
    tbb::spin_mutex::scoped_lock lock(mutex_);
    if (tail_ - head_ == ring_.size()) grow();
    ring_[tail_ & (ring_.size() - 1)] = std::move(job);
    ++tail_;
    size_.store(tail_ - head_);
}

bool JobQueue::pop(detail::Job& out) {
    if (size_.load(std::memory_order_relaxed) == 0) return false;
    tbb::spin_mutex::scoped_lock lock(mutex_);
    if (head_ == tail_) return false;
    out = std::move(ring_[head_ & (ring_.size() - 1)]);
    ++head_;
    size_.store(tail_ - head_, std::memory_order_relaxed);
    return true;
}

void JobQueue::grow() {
    // Rare (the ring keeps its size once grown), so the jobs are simply moved in order.
    std::vector<detail::Job, tbb::cache_aligned_allocator<detail::Job>> bigger(ring_.size() * 2);
    const size_t mask = ring_.size() - 1;
    for (size_t i = head_; i != tail_; ++i)
        bigger[i - head_] = std::move(ring_[i & mask]);
    ring_.swap(bigger);
    tail_ -= head_;
    head_ = 0;
}

}  // namespace tf
