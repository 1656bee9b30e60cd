#include "DeviceBenchCore/manager/refresh_thread.h"

#include <chrono>

RefreshThread::~RefreshThread() {
    Stop();
}

void RefreshThread::Start(std::function<bool()> ready, std::function<void()> tick) {
    std::lock_guard<std::mutex> control(control_mutex_);
    StopLocked();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
    }
    running_ = true;
    thread_ = std::thread(
        [this, ready = std::move(ready), tick = std::move(tick)] { Loop(ready, tick); });
}

void RefreshThread::Stop() {
    std::lock_guard<std::mutex> control(control_mutex_);
    StopLocked();
}

void RefreshThread::StopLocked() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

void RefreshThread::Loop(const std::function<bool()>& ready, const std::function<void()>& tick) {
    int steps = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (ready()) {
            if (steps >= kStepsPerTick) {
                lock.unlock();
                tick();
                lock.lock();
                steps = 0;
            }
            ++steps;
        } else {
            steps = (steps + 1) % kStepsPerTick;
        }
        wake_.wait_for(lock, std::chrono::milliseconds(kStepMs), [this] { return stop_; });
    }
}
