// One stream of the host CUDA stand-in: a worker thread running queued work in order. A thread
// that waits for the stream helps: it runs queued items itself, one at a time and in order,
// whenever the worker is not running one, so a copy followed by a wait costs about a copy.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace krell::cuda_host {

class HostStream {
public:
    //! Starts the worker thread. flags and priority are only stored for the query calls.
    HostStream(unsigned int flags, int priority);
    //! Runs what is still queued, then joins the worker.
    ~HostStream();
    HostStream(const HostStream&) = delete;
    HostStream& operator=(const HostStream&) = delete;

    //! Queues work behind everything queued before. Any thread may call it.
    void enqueue(std::function<void()> work);
    //! Blocks until all work queued before the call has run, running queued items on the calling
    //! thread while the worker is idle. Returns false (without waiting) when called from work
    //! running on this stream, where waiting could never end.
    bool synchronize();
    //! True when nothing is queued or running.
    bool idle() const;
    //! True when the calling thread is running an item of this stream.
    bool isCurrentWorker() const;

    unsigned int flags() const { return flags_; }
    int priority() const { return priority_; }

private:
    void workerLoop();
    //! Pops the next item and runs it with the lock released; the caller holds lock and has
    //! checked that an item is queued and none is running.
    void runNext(std::unique_lock<std::mutex>& lock);

    const unsigned int flags_;
    const int priority_;
    mutable std::mutex mutex_;  // guards queue_, enqueued_, completed_, running_, stopping_
    std::condition_variable work_ready_;
    std::condition_variable work_done_;
    std::deque<std::function<void()>> queue_;
    uint64_t enqueued_ = 0;
    uint64_t completed_ = 0;
    bool running_ = false;  // an item is being run (by the worker or a helping waiter)
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace krell::cuda_host
