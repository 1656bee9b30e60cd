// The executor runs graphs in dependency order and single tasks at 1..4 workers, keeps its
// promised number of threads even on a machine with fewer cores, and refuses work without workers.
#include <taskflow/taskflow.hpp>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto kWaitLimit = std::chrono::seconds(10);

class ExecutorAtWorkers : public ::testing::TestWithParam<size_t> {};

TEST_P(ExecutorAtWorkers, DiamondGraph_RunsEachTaskAfterItsPredecessors) {
    tf::Executor executor(GetParam());
    for (int repeat = 0; repeat < 20; ++repeat) {
        tf::Taskflow flow;
        std::mutex mutex;
        std::vector<std::string> order;
        auto record = [&](const char* name) {
            return [&, name] {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(name);
            };
        };
        tf::Task a = flow.emplace(record("A"));
        tf::Task b = flow.emplace(record("B"));
        tf::Task c = flow.emplace(record("C"));
        tf::Task d = flow.emplace(record("D"));
        a.precede(b, c);
        d.succeed(b, c);
        auto done = executor.run(flow);
        ASSERT_EQ(done.wait_for(kWaitLimit), std::future_status::ready);
        done.get();
        ASSERT_EQ(order.size(), 4u);
        EXPECT_EQ(order.front(), "A");
        EXPECT_EQ(order.back(), "D");
    }
}

TEST_P(ExecutorAtWorkers, ManySilentTasks_AllFinishBeforeWaitForAllReturns) {
    tf::Executor executor(GetParam());
    std::atomic<int> count{0};
    constexpr int kTasks = 5000;
    for (int i = 0; i < kTasks; ++i) {
        executor.silent_async([&count] { count.fetch_add(1, std::memory_order_relaxed); });
    }
    executor.wait_for_all();
    EXPECT_EQ(count.load(), kTasks);
}

TEST_P(ExecutorAtWorkers, TaskSubmittedFromTask_IsAwaitedByWaitForAll) {
    tf::Executor executor(GetParam());
    std::atomic<int> count{0};
    for (int i = 0; i < 100; ++i) {
        executor.silent_async([&] { executor.silent_async([&count] { count.fetch_add(1); }); });
    }
    executor.wait_for_all();
    EXPECT_EQ(count.load(), 100);
}

TEST_P(ExecutorAtWorkers, ConcurrentOutsideSubmitters_EveryTaskRunsOnce) {
    tf::Executor executor(GetParam());
    constexpr int kThreads = 4;
    constexpr int kTasksPerThread = 2000;
    std::atomic<int> count{0};
    std::vector<std::thread> submitters;
    for (int t = 0; t < kThreads; ++t) {
        submitters.emplace_back([&] {
            for (int i = 0; i < kTasksPerThread; ++i) {
                if (i % 10 == 0) {
                    executor.silent_async(
                        [&] { executor.silent_async([&count] { count.fetch_add(1); }); });
                } else {
                    executor.silent_async([&count] { count.fetch_add(1); });
                }
            }
            executor.wait_for_all();
        });
    }
    for (auto& thread : submitters)
        thread.join();
    executor.wait_for_all();
    EXPECT_EQ(count.load(), kThreads * kTasksPerThread);
}

TEST_P(ExecutorAtWorkers, IdleWorkers_WakeForEachLateSubmission) {
    tf::Executor executor(GetParam());
    for (int round = 0; round < 4; ++round) {
        // Long enough for every worker to stop searching and go to sleep.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto result = executor.async([round] { return round; });
        ASSERT_EQ(result.wait_for(kWaitLimit), std::future_status::ready);
        EXPECT_EQ(result.get(), round);
    }
}

INSTANTIATE_TEST_SUITE_P(Workers, ExecutorAtWorkers, ::testing::Values(1, 2, 3, 4));

TEST(Executor, CallablesOfEverySize_RunOnceAndReleaseTheirCaptures) {
    tf::Executor executor(2);
    auto token = std::make_shared<int>(0);
    std::atomic<int> runs{0};
    std::array<int, 64> big{};  // too large to be kept inside a queued job
    std::iota(big.begin(), big.end(), 1);
    executor.silent_async([token, &runs] { runs.fetch_add(1); });
    executor.silent_async([token, big, &runs] { runs.fetch_add(big[63] == 64 ? 1 : 100); });
    auto owned = std::make_unique<int>(5);
    executor.silent_async([token, owned = std::move(owned), &runs] { runs.fetch_add(*owned - 4); });
    auto sum = executor.async([token, big] { return std::accumulate(big.begin(), big.end(), 0); });
    EXPECT_EQ(sum.get(), 64 * 65 / 2);
    executor.wait_for_all();
    EXPECT_EQ(runs.load(), 3);
    EXPECT_EQ(token.use_count(), 1);
}

TEST(Executor, ManyTasksQueuedBehindABlockedWorker_RunInSubmissionOrder) {
    tf::Executor executor(1);
    for (int i = 0; i < 100; ++i)
        executor.silent_async([] {});  // moves the queue's start
    executor.wait_for_all();
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    executor.silent_async([opened] { opened.wait_for(kWaitLimit); });
    std::vector<int> order;
    constexpr int kTasks = 1000;
    for (int i = 0; i < kTasks; ++i)
        executor.silent_async([&order, i] { order.push_back(i); });
    gate.set_value();
    executor.wait_for_all();
    std::vector<int> expected(kTasks);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

// Runs a task whose children wait for each other, so all of them must run at once on the
// other workers; returns false when they did not.
bool childrenMeetOnOtherWorkers(tf::Executor& executor, int count) {
    auto parent = executor.async([&] {
        std::mutex mutex;
        std::condition_variable all_in;
        int arrived = 0;
        std::vector<std::future<bool>> children;
        for (int i = 0; i < count; ++i) {
            children.push_back(executor.async([&] {
                std::unique_lock<std::mutex> lock(mutex);
                if (++arrived == count) all_in.notify_all();
                return all_in.wait_for(lock, kWaitLimit, [&] { return arrived == count; });
            }));
        }
        bool all = true;
        for (auto& child : children)
            all = child.get() && all;
        return all;
    });
    return parent.wait_for(2 * kWaitLimit) == std::future_status::ready && parent.get();
}

TEST(Executor, ChildrenOfABlockedTask_AreTakenOverByOtherWorkers) {
    constexpr int kChildren = 3;
    tf::Executor executor(kChildren + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // every worker asleep
    EXPECT_TRUE(childrenMeetOnOtherWorkers(executor, kChildren));
    for (int round = 0; round < 20; ++round) {
        // Right after a burst some workers are still searching while the children are queued.
        for (int i = 0; i < 200; ++i)
            executor.silent_async([] {});
        ASSERT_TRUE(childrenMeetOnOtherWorkers(executor, kChildren)) << "round " << round;
    }
}

TEST(Executor, Destruction_RunsEveryQueuedTaskFirst) {
    std::atomic<int> count{0};
    {
        tf::Executor executor(2);
        for (int i = 0; i < 1000; ++i)
            executor.silent_async([&count] { count.fetch_add(1); });
    }
    EXPECT_EQ(count.load(), 1000);
}

TEST(Executor, AsyncFuture_CarriesResultAndException) {
    tf::Executor executor(2);
    auto value = executor.async([] { return 42; });
    auto failure = executor.async([]() -> int { throw std::logic_error("boom"); });
    EXPECT_EQ(value.get(), 42);
    EXPECT_THROW(failure.get(), std::logic_error);
}

TEST(Executor, ThrowingSilentTask_DoesNotStopLaterTasks) {
    tf::Executor executor(1);
    std::atomic<bool> ran{false};
    executor.silent_async([] { throw std::runtime_error("dropped"); });
    executor.silent_async([&ran] { ran = true; });
    executor.wait_for_all();
    EXPECT_TRUE(ran.load());
}

TEST(Executor, MoreWorkersThanCores_AllRunAtTheSameTime) {
    // Tasks that block each other need as many threads as the executor promised.
    constexpr size_t kWorkers = 8;
    tf::Executor executor(kWorkers);
    std::mutex mutex;
    std::condition_variable all_in;
    size_t arrived = 0;
    std::vector<std::future<bool>> results;
    for (size_t i = 0; i < kWorkers; ++i) {
        results.push_back(executor.async([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (++arrived == kWorkers) all_in.notify_all();
            return all_in.wait_for(lock, kWaitLimit, [&] { return arrived == kWorkers; });
        }));
    }
    for (auto& result : results)
        EXPECT_TRUE(result.get());
}

TEST(Executor, ZeroWorkers_RefusesEveryKindOfWork) {
    tf::Executor executor(0);
    EXPECT_EQ(executor.num_workers(), 0u);
    tf::Taskflow flow;
    flow.emplace([] {});
    try {
        executor.run(flow);
        FAIL() << "run must refuse";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "no workers to execute the graph");
    }
    EXPECT_THROW(executor.silent_async([] {}), std::runtime_error);
    EXPECT_THROW(executor.async([] { return 1; }), std::runtime_error);
    executor.wait_for_all();
}

TEST(Executor, FailingTask_SkipsDependentsAndRethrowsFromRun) {
    tf::Executor executor(2);
    tf::Taskflow flow;
    std::atomic<bool> dependent_ran{false};
    tf::Task fail = flow.emplace([] { throw std::runtime_error("task failed"); });
    tf::Task after = flow.emplace([&] { dependent_ran = true; });
    fail.precede(after);
    auto done = executor.run(flow);
    EXPECT_THROW(done.get(), std::runtime_error);
    EXPECT_FALSE(dependent_ran.load());
}

TEST(Executor, CyclicOrEmptyGraph_CompletesInsteadOfHanging) {
    tf::Executor executor(2);
    tf::Taskflow empty;
    EXPECT_EQ(executor.run(empty).wait_for(kWaitLimit), std::future_status::ready);

    tf::Taskflow cyclic;
    tf::Task a = cyclic.emplace([] {});
    tf::Task b = cyclic.emplace([] {});
    a.precede(b);
    b.precede(a);
    auto done = executor.run(cyclic);
    ASSERT_EQ(done.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_THROW(done.get(), std::runtime_error);
}

TEST(Executor, SameGraphRunTwice_RunsEveryTaskEachTime) {
    tf::Executor executor(3);
    tf::Taskflow flow;
    std::atomic<int> count{0};
    tf::Task first = flow.placeholder();
    for (int i = 0; i < 50; ++i)
        first.precede(flow.emplace([&count] { count.fetch_add(1); }));
    executor.run(flow).get();
    executor.run(flow).get();
    EXPECT_EQ(count.load(), 100);
    EXPECT_EQ(flow.num_tasks(), 51u);
}

}  // namespace
