#include "platform/cuda/src/host_stream.h"

#include <utility>

namespace krell::cuda_host {

HostStream::HostStream(unsigned int flags, int priority)
    : flags_(flags), priority_(priority), worker_([this] { workerLoop(); }) {}

HostStream::~HostStream() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    // The last reference may be dropped by work running on this very stream.
    if (isCurrentWorker()) {
        worker_.detach();
    } else if (worker_.joinable()) {
        worker_.join();
    }
}

void HostStream::enqueue(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(work));
        ++enqueued_;
    }
    work_ready_.notify_one();
}

bool HostStream::synchronize() {
    if (isCurrentWorker()) {
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = enqueued_;
    work_done_.wait(lock, [&] { return completed_ >= target; });
    return true;
}

bool HostStream::idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_ == enqueued_;
}

bool HostStream::isCurrentWorker() const {
    return std::this_thread::get_id() == worker_.get_id();
}

void HostStream::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping and drained
        }
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        work();
        lock.lock();
        ++completed_;
        work_done_.notify_all();
    }
}

}  // namespace krell::cuda_host
