// 100,000 small tasks through the process-wide executor against the same tasks on a plain
// std::thread pool (one locked queue) with the same number of workers, in one run. Compare the
// items_per_second of the two as a ratio. BM_GlobalExecutorLookup is the cost of one
// global_executor() call after the first. The executor's size comes from the settings file, so
// to compare at another worker count run with HOME pointing at a folder whose
// Documents/LumoraDataFiles/Settings.ini holds "[General]" and "taskflow_core_num=2".
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "lumora-core/global_executor.h"

namespace {

constexpr int kTasks = 100000;

// A few hundred nanoseconds of arithmetic, like a small per-packet step.
uint64_t smallWork(uint64_t seed) {
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (int i = 0; i < 64; ++i)
        x ^= (x << 13) ^ (x >> 7) ^ (x << 17);
    return x;
}

// The baseline: workers take tasks from one queue guarded by a mutex.
class PlainThreadPool {
public:
    explicit PlainThreadPool(size_t workers) {
        for (size_t i = 0; i < workers; ++i)
            threads_.emplace_back([this] { workLoop(); });
    }
    ~PlainThreadPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quitting_ = true;
        }
        ready_.notify_all();
        for (auto& thread : threads_)
            thread.join();
    }

    void submit(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(task));
            ++pending_;
        }
        ready_.notify_one();
    }

    void waitAll() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    void workLoop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return quitting_ || !queue_.empty(); });
            if (queue_.empty()) return;
            std::function<void()> task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            if (--pending_ == 0) idle_.notify_all();
        }
    }

    std::mutex mutex_;  // guards queue_, pending_ and quitting_
    std::condition_variable ready_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_;
    size_t pending_ = 0;
    bool quitting_ = false;
    std::vector<std::thread> threads_;
};

void BM_GlobalExecutor(benchmark::State& state) {
    tf::Executor& executor = krell::lumora::global_executor();
    for (auto _ : state) {
        std::atomic<uint64_t> sum{0};
        for (int i = 0; i < kTasks; ++i) {
            executor.silent_async(
                [&sum, i] { sum.fetch_add(smallWork(i), std::memory_order_relaxed); });
        }
        executor.wait_for_all();
        benchmark::DoNotOptimize(sum.load());
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
    state.counters["workers"] = static_cast<double>(executor.num_workers());
}

void BM_PlainThreadPool(benchmark::State& state) {
    const size_t workers = krell::lumora::global_executor().num_workers();
    PlainThreadPool pool(workers);
    for (auto _ : state) {
        std::atomic<uint64_t> sum{0};
        for (int i = 0; i < kTasks; ++i) {
            pool.submit([&sum, i] { sum.fetch_add(smallWork(i), std::memory_order_relaxed); });
        }
        pool.waitAll();
        benchmark::DoNotOptimize(sum.load());
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
    state.counters["workers"] = static_cast<double>(workers);
}

// The cost of reaching the executor, which callers pay per task they submit: after the first
// call it must not read the settings file again.
void BM_GlobalExecutorLookup(benchmark::State& state) {
    krell::lumora::global_executor();
    for (auto _ : state)
        benchmark::DoNotOptimize(&krell::lumora::global_executor());
}

BENCHMARK(BM_GlobalExecutorLookup);
BENCHMARK(BM_PlainThreadPool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GlobalExecutor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
