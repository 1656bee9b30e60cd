#pragma once
// RefreshThread: calls a tick function about every 3 seconds (30 steps of 100 ms) while it runs,
// counting only the steps in which `ready` says the device may be read. Owns its thread; Stop
// (or destruction) wakes and joins it within one step.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class RefreshThread {
public:
    static constexpr int kStepMs = 100;
    static constexpr int kStepsPerTick = 30;

    RefreshThread() = default;
    ~RefreshThread();
    RefreshThread(const RefreshThread&) = delete;
    RefreshThread& operator=(const RefreshThread&) = delete;

    //! Starts the loop (stopping a running one first). Both functions run on the new thread.
    //! Start and Stop may be called from different threads (connection thread, UI thread).
    void Start(std::function<bool()> ready, std::function<void()> tick);
    //! Ends the loop and joins it. Never from the tick itself. Idempotent.
    void Stop();
    bool Running() const { return running_.load(); }

private:
    void Loop(const std::function<bool()>& ready, const std::function<void()>& tick);

    void StopLocked();

    std::atomic<bool> running_{false};
    std::mutex control_mutex_;  // guards thread_: Start and Stop come from different threads
    std::mutex mutex_;  // guards stop_ for the wake-up
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
