#include "scheduler.h"

#include <algorithm>
#include <utility>

namespace tf {

namespace {

// Which scheduler, if any, the calling thread works for, and its queue there.
thread_local const Scheduler* tls_scheduler = nullptr;
thread_local size_t tls_worker = 0;
// Where an outside thread puts its next job; outside submitters spread their jobs in turn.
thread_local size_t tls_next_queue = 0;

// Finished jobs are counted in batches, so that workers and submitters do not fight over the
// pending counter for every job; a worker always reports before it looks for more work.
constexpr size_t kFinishedBatch = 64;
// An idle worker probes all queues this often before it sleeps; the first rounds pause the core,
// the later ones give it away, which matters when there are more workers than cores.
constexpr int kSearchRounds = 48;
constexpr int kPausingRounds = 32;
constexpr int kPausesPerRound = 16;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

}  // namespace

Scheduler::Scheduler(size_t workers)
    : count_(workers),
      max_searchers_(std::max<size_t>(
          1, std::min<size_t>(workers, std::max(1u, std::thread::hardware_concurrency())) / 2)),
      queues_(workers > 0 ? std::make_unique<JobQueue[]>(workers) : nullptr) {
    threads_.reserve(workers);
    try {
        for (size_t i = 0; i < workers; ++i)
            threads_.emplace_back([this, i] { workerLoop(i); });
    } catch (...) {
        stop();
        throw;
    }
}

Scheduler::~Scheduler() {
    waitForAll();
    stop();
}

void Scheduler::stop() {
    {
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        stopping_.store(true);
    }
    wake_.notify_all();
    for (auto& thread : threads_)
        thread.join();
    threads_.clear();
}

void Scheduler::submit(detail::Job&& job) {
    pending_.fetch_add(1, std::memory_order_relaxed);
    size_t target = tls_worker;
    if (tls_scheduler != this) {
        target = tls_next_queue < count_ ? tls_next_queue : 0;
        tls_next_queue = target + 1;
    }
    try {
        queues_[target].push(std::move(job));
    } catch (...) {
        finished(1);
        throw;
    }
    wakeOneIfNobodySearches();
}

void Scheduler::waitForAll() {
    std::unique_lock<std::mutex> lock(idle_mutex_);
    idle_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) == 0; });
}

void Scheduler::hold() {
    pending_.fetch_add(1, std::memory_order_relaxed);
}

void Scheduler::release() {
    finished(1);
}

void Scheduler::workerLoop(size_t self) {
    tls_scheduler = this;
    tls_worker = self;
    detail::Job job;
    size_t unreported = 0;
    for (;;) {
        if (!takeJob(self, job)) {
            finished(unreported);
            unreported = 0;
            if (!waitForJob(self, job)) return;
        }
        try {
            job();
        } catch (...) {
            // A silent job has nobody to tell; futures and graph runs capture their own exceptions.
        }
        job.reset();
        if (++unreported == kFinishedBatch) {
            finished(unreported);
            unreported = 0;
        }
    }
}

bool Scheduler::takeJob(size_t self, detail::Job& job) {
    if (queues_[self].pop(job)) return true;
    for (size_t i = self + 1; i < count_; ++i) {
        if (queues_[i].pop(job)) return true;
    }
    for (size_t i = 0; i < self; ++i) {
        if (queues_[i].pop(job)) return true;
    }
    return false;
}

bool Scheduler::waitForJob(size_t self, detail::Job& job) {
    for (;;) {
        if (searchForJob(self, job)) return true;
        if (!sleepUntilWoken()) return false;
    }
}

bool Scheduler::searchForJob(size_t self, detail::Job& job) {
    size_t searchers = searching_.load(std::memory_order_relaxed);
    do {
        if (searchers >= max_searchers_) return false;
    } while (!searching_.compare_exchange_weak(searchers, searchers + 1));

    for (int round = 0; round < kSearchRounds && !stopping_.load(std::memory_order_relaxed);
         ++round) {
        if (takeJob(self, job)) {
            // Submitters wake nobody while someone searches; the last searcher to find work hands
            // that duty on, or jobs queued meanwhile could wait behind a job that blocks.
            if (searching_.fetch_sub(1) == 1 && anyQueued()) wakeOneIfNobodySearches();
            return true;
        }
        if (round < kPausingRounds) {
            for (int i = 0; i < kPausesPerRound; ++i)
                cpuRelax();
        } else {
            std::this_thread::yield();
        }
    }
    searching_.fetch_sub(1);
    return false;
}

bool Scheduler::sleepUntilWoken() {
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    // Every step of this handshake is sequentially consistent: either a submitter sees this
    // sleeper (wakeOneIfNobodySearches) or this check sees the submitter's job.
    sleeping_.fetch_add(1);
    if (!stopping_.load() && !anyQueued()) {
        wake_.wait(lock, [this] { return wake_permits_ > 0 || stopping_.load(); });
        if (wake_permits_ > 0) --wake_permits_;
    }
    sleeping_.fetch_sub(1);
    return !stopping_.load();
}

bool Scheduler::anyQueued() const {
    for (size_t i = 0; i < count_; ++i) {
        if (!queues_[i].looksEmpty()) return true;
    }
    return false;
}

void Scheduler::wakeOneIfNobodySearches() {
    if (searching_.load() == 0 && sleeping_.load() > 0) wakeOne();
}

void Scheduler::wakeOne() {
    {
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        if (wake_permits_ >= sleeping_.load()) return;
        ++wake_permits_;
    }
    wake_.notify_one();
}

void Scheduler::finished(size_t count) {
    if (count == 0) return;
    if (pending_.fetch_sub(count, std::memory_order_acq_rel) == count) {
        std::lock_guard<std::mutex> lock(idle_mutex_);
        idle_.notify_all();
    }
}

}  // namespace tf
