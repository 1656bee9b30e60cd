#pragma once
// Scheduler: the worker threads of one tf::Executor. Each worker owns a JobQueue; a job
// submitted from outside goes to the queues in turn, one submitted from a worker's own job
// stays in that worker's queue, and a worker whose queue is empty steals from the others.
// Idle workers search briefly (a bounded number at once, so idle threads do not starve the
// submitter on a small machine) and then sleep until a submission wakes one of them.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "job_queue.h"
#include "taskflow/core/job.hpp"

namespace tf {

class Scheduler {
public:
    //! Starts `workers` threads (0 starts none; submit() must then not be called).
    explicit Scheduler(size_t workers);
    //! Waits for every submitted job, then stops and joins the workers.
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    size_t workers() const { return count_; }

    //! Queues `job` for a worker. Any thread. May throw std::bad_alloc, then nothing is queued.
    void submit(detail::Job&& job);

    //! Blocks until every job submitted so far, and every job those submit, has finished, and
    //! every hold() has been released. Any thread except this scheduler's workers.
    void waitForAll();

    //! Counts one unit of work that is not a queued job (a graph run waiting for its turn), so
    //! that waitForAll() and the destructor wait for it too. Any thread.
    void hold();
    //! Ends one hold(); the caller must not touch the scheduler afterwards unless it holds
    //! another unit. Any thread.
    void release();

private:
    void workerLoop(size_t self);
    bool takeJob(size_t self, detail::Job& job);
    bool waitForJob(size_t self, detail::Job& job);
    bool searchForJob(size_t self, detail::Job& job);
    bool sleepUntilWoken();
    bool anyQueued() const;
    void wakeOneIfNobodySearches();
    void wakeOne();
    void finished(size_t count);
    void stop();

    const size_t count_;
    const size_t max_searchers_;
    std::unique_ptr<JobQueue[]> queues_;  // one per worker

    alignas(64) std::atomic<size_t> pending_{0};    // submitted and not yet counted as finished
    alignas(64) std::atomic<size_t> searching_{0};  // workers looking for a job without sleeping
    std::atomic<size_t> sleeping_{0};               // workers registered in sleepUntilWoken
    std::atomic<bool> stopping_{false};

    std::mutex sleep_mutex_;  // guards wake_permits_; pairs with wake_
    std::condition_variable wake_;
    size_t wake_permits_ = 0;  // wake-ups granted to sleepers and not yet taken

    std::mutex idle_mutex_;  // pending_ reaching zero is announced under it, with idle_
    std::condition_variable idle_;

    std::vector<std::thread> threads_;
};

}  // namespace tf
