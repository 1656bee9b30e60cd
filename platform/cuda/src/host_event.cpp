#include "platform/cuda/src/host_event.h"

namespace krell::cuda_host {

uint64_t HostEvent::beginRecord() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ++recorded_;
}

void HostEvent::complete(uint64_t number) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (number > completed_) {
            completed_ = number;
            time_ = Clock::now();
        }
    }
    reached_cv_.notify_all();
}

void HostEvent::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = recorded_;
    reached_cv_.wait(lock, [&] { return completed_ >= target; });
}

void HostEvent::waitFor(uint64_t number) {
    std::unique_lock<std::mutex> lock(mutex_);
    reached_cv_.wait(lock, [&] { return completed_ >= number; });
}

bool HostEvent::reached() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_ >= recorded_;
}

bool HostEvent::hasTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_ > 0;
}

HostEvent::Clock::time_point HostEvent::time() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return time_;
}

uint64_t HostEvent::latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recorded_;
}

}  // namespace krell::cuda_host
