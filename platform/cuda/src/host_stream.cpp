#include "platform/cuda/src/host_stream.h"

#include <utility>

namespace krell::cuda_host {

namespace {
// The stream whose item the current thread is running (null when none).
thread_local const HostStream* t_running_stream = nullptr;
}  // namespace

HostStream::HostStream(unsigned int flags, int priority)
    : flags_(flags), priority_(priority), worker_([this] { workerLoop(); }) {}

HostStream::~HostStream() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    // The last reference may be dropped by work running on this very stream.
    if (std::this_thread::get_id() == worker_.get_id()) {
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
    while (completed_ < target) {
        if (!running_ && !queue_.empty()) {
            runNext(lock);
        } else {
            work_done_.wait(lock);
        }
    }
    return true;
}

bool HostStream::idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_ == enqueued_;
}

bool HostStream::isCurrentWorker() const {
    return t_running_stream == this;
}

void HostStream::runNext(std::unique_lock<std::mutex>& lock) {
    std::function<void()> work = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    lock.unlock();
    const HostStream* outer = t_running_stream;
    t_running_stream = this;
    work();
    t_running_stream = outer;
    lock.lock();
    running_ = false;
    ++completed_;
    work_done_.notify_all();
    work_ready_.notify_one();
}

void HostStream::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Take an item only while no helper runs one; leave once stopping and drained.
        work_ready_.wait(lock, [&] { return !running_ && (!queue_.empty() || stopping_); });
        if (queue_.empty()) {
            return;  // stopping and drained
        }
        runNext(lock);
    }
}

}  // namespace krell::cuda_host
