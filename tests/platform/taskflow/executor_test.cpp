// The executor runs graphs in dependency order and single tasks at 1..4 workers, keeps its
// promised number of threads even on a machine with fewer cores, and refuses work without workers.
// Runs of one graph are queued, never overlapping; condition tasks run only the successor their
// result picks. Every wait is bounded; no sleep decides an outcome.
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
// How long a run that must not start yet is watched; a correct executor passes however short.
constexpr auto kQuietPeriod = std::chrono::milliseconds(100);

// A gate that tasks wait on (bounded by kWaitLimit). It opens at the latest when destroyed, so a
// failed assertion does not leave a worker blocked; declare it after the executor.
class Gate {
public:
    Gate() : opened_(promise_.get_future().share()) {}
    ~Gate() { open(); }
    void open() {
        std::call_once(once_, [this] { promise_.set_value(); });
    }
    //! For a task to capture by value.
    std::shared_future<void> opened() const { return opened_; }

private:
    std::promise<void> promise_;
    std::shared_future<void> opened_;
    std::once_flag once_;
};

template <typename T>
bool isReady(const std::future<T>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

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

TEST_P(ExecutorAtWorkers, ConditionTask_RunsOnlyTheSuccessorItsResultPicks) {
    tf::Executor executor(GetParam());
    for (int repeat = 0; repeat < 20; ++repeat) {
        tf::Taskflow flow;
        std::array<std::atomic<int>, 3> ran{};
        std::atomic<int> after_picked{0};
        tf::Task pick = flow.emplace([] { return 1; });
        tf::Task a = flow.emplace([&] { ran[0].fetch_add(1); });
        tf::Task b = flow.emplace([&] { ran[1].fetch_add(1); });
        tf::Task c = flow.emplace([&] { ran[2].fetch_add(1); });
        pick.precede(a, b, c);
        b.precede(flow.emplace([&] { after_picked.fetch_add(1); }));
        // An index out of range picks nothing; a bool result is an index too (true: 1).
        tf::Task none = flow.emplace([] { return 7; });
        tf::Task skipped = flow.emplace([&] { ran[0].fetch_add(100); });
        none.precede(skipped);
        std::atomic<int> by_bool{0};
        tf::Task flag = flow.emplace([] { return true; });
        flag.precede(flow.emplace([&] { by_bool.fetch_add(10); }),
                     flow.emplace([&] { by_bool.fetch_add(1); }));

        auto done = executor.run(flow);
        ASSERT_EQ(done.wait_for(kWaitLimit), std::future_status::ready);
        done.get();
        EXPECT_EQ(ran[0].load(), 0);
        EXPECT_EQ(ran[1].load(), 1);
        EXPECT_EQ(ran[2].load(), 0);
        EXPECT_EQ(after_picked.load(), 1) << "a picked task releases its own successors";
        EXPECT_EQ(by_bool.load(), 1);
    }
}

TEST_P(ExecutorAtWorkers, ConditionLoop_RepeatsItsBodyUntilTheExitIsPicked) {
    tf::Executor executor(GetParam());
    tf::Taskflow flow;
    int body_runs = 0;  // tasks of one run follow each other: no lock needed
    int exits = 0;
    int limit = 0;
    tf::Task init = flow.emplace([&] { limit += 5; });
    tf::Task body = flow.emplace([&] { ++body_runs; });
    tf::Task again = flow.emplace([&] { return body_runs < limit ? 0 : 1; });
    tf::Task exit = flow.emplace([&] { ++exits; });
    init.precede(body);
    body.precede(again);
    again.precede(body, exit);  // back to body (a weak edge, not a cycle), or out
    for (int run = 1; run <= 3; ++run) {
        auto done = executor.run(flow);
        ASSERT_EQ(done.wait_for(kWaitLimit), std::future_status::ready);
        done.get();
        EXPECT_EQ(body_runs, 5 * run);
        EXPECT_EQ(exits, run);
    }
}

TEST_P(ExecutorAtWorkers, ThrowingConditionTask_PicksNothingAndFailsTheRun) {
    tf::Executor executor(GetParam());
    tf::Taskflow flow;
    std::atomic<bool> successor_ran{false};
    tf::Task pick = flow.emplace([]() -> int { throw std::runtime_error("no choice"); });
    pick.precede(flow.emplace([&] { successor_ran = true; }));
    auto done = executor.run(flow);
    ASSERT_EQ(done.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_THROW(done.get(), std::runtime_error);
    EXPECT_FALSE(successor_ran.load());
}

INSTANTIATE_TEST_SUITE_P(Workers, ExecutorAtWorkers, ::testing::Values(1, 2, 3, 4));

// Runs of one graph overlap only when a worker is free for the second, so from 2 workers up.
class SameGraphAtWorkers : public ::testing::TestWithParam<size_t> {};

TEST_P(SameGraphAtWorkers, SecondRun_StartsOnlyAfterTheFirstHasEnded) {
    std::atomic<int> active{0};
    std::atomic<int> peak{0};
    std::atomic<int> entries{0};
    std::promise<void> entered;
    tf::Taskflow flow;
    tf::Executor executor(GetParam());
    Gate gate;
    flow.emplace([&, opened = gate.opened()] {
        const int now = active.fetch_add(1) + 1;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {}
        if (entries.fetch_add(1) == 0) {
            entered.set_value();
            opened.wait_for(kWaitLimit);  // the first instance holds its run open
        }
        active.fetch_sub(1);
    });
    auto first = executor.run(flow);
    ASSERT_EQ(entered.get_future().wait_for(kWaitLimit), std::future_status::ready);
    auto second = executor.run(flow);
    EXPECT_EQ(second.wait_for(kQuietPeriod), std::future_status::timeout)
        << "the second run ended while the first was still in progress";
    EXPECT_EQ(entries.load(), 1);
    gate.open();
    ASSERT_EQ(first.wait_for(kWaitLimit), std::future_status::ready);
    ASSERT_EQ(second.wait_for(kWaitLimit), std::future_status::ready);
    first.get();
    second.get();
    EXPECT_EQ(entries.load(), 2);
    EXPECT_EQ(peak.load(), 1) << "two instances of the task ran at once";
}

TEST_P(SameGraphAtWorkers, ManyRunsFromSeveralThreads_NeverOverlapAndEndInCallOrder) {
    constexpr int kThreads = 4;
    constexpr int kRunsPerThread = 25;
    std::atomic<bool> inside{false};
    std::atomic<int> overlaps{0};
    std::atomic<int> middles{0};
    std::atomic<int> ends{0};
    tf::Taskflow flow;
    tf::Task begin = flow.emplace([&] {
        if (inside.exchange(true)) overlaps.fetch_add(1);
    });
    tf::Task end = flow.emplace([&] {
        inside.store(false);
        ends.fetch_add(1);
    });
    for (int i = 0; i < 4; ++i) {
        tf::Task middle = flow.emplace([&] { middles.fetch_add(1); });
        begin.precede(middle);
        end.succeed(middle);
    }
    tf::Executor executor(GetParam());
    std::vector<std::vector<std::future<void>>> futures(kThreads);
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < kRunsPerThread; ++i)
                futures[t].push_back(executor.run(flow));
        });
    }
    for (auto& caller : callers)
        caller.join();
    for (auto& own : futures) {
        ASSERT_EQ(own.back().wait_for(kWaitLimit), std::future_status::ready);
        for (auto& earlier : own)
            EXPECT_TRUE(isReady(earlier)) << "a later run of the same caller ended first";
    }
    executor.wait_for_all();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(ends.load(), kThreads * kRunsPerThread);
    EXPECT_EQ(middles.load(), 4 * kThreads * kRunsPerThread);
}

INSTANTIATE_TEST_SUITE_P(Workers, SameGraphAtWorkers, ::testing::Values(2, 3, 4));

TEST(Executor, RunQueuedBehindAnotherExecutorsRun_IsAwaitedByItsOwnExecutor) {
    std::atomic<int> count{0};
    std::promise<void> entered;
    tf::Taskflow flow;
    tf::Executor holder(2);
    Gate gate;
    flow.emplace([&, opened = gate.opened()] {
        if (count.fetch_add(1) == 0) {
            entered.set_value();
            opened.wait_for(kWaitLimit);
        }
    });
    auto first = holder.run(flow);
    ASSERT_EQ(entered.get_future().wait_for(kWaitLimit), std::future_status::ready);
    std::future<void> queued;
    {
        tf::Executor waiter(2);
        queued = waiter.run(flow);
        std::thread opener([&gate] { gate.open(); });
        waiter.wait_for_all();
        EXPECT_TRUE(isReady(queued)) << "wait_for_all returned before the queued run ended";
        opener.join();
        // Destroying `waiter` now must not leave the run behind it, nor run it on a dead executor.
    }
    ASSERT_EQ(first.wait_for(kWaitLimit), std::future_status::ready);
    ASSERT_EQ(queued.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_EQ(count.load(), 2);
}

TEST(Executor, GraphDestroyedAsSoonAsItsLastRunIsReady_IsNotTouchedAgain) {
    // Checked for real under a sanitizer: the executor must not use the graph after the future.
    tf::Executor executor(3);
    for (int repeat = 0; repeat < 200; ++repeat) {
        auto flow = std::make_unique<tf::Taskflow>();
        std::atomic<int> count{0};
        tf::Task a = flow->emplace([&count] { count.fetch_add(1); });
        a.precede(flow->emplace([&count] { count.fetch_add(1); }),
                  flow->emplace([&count] { count.fetch_add(1); }));
        executor.run(*flow);
        auto last = executor.run(*flow);
        ASSERT_EQ(last.wait_for(kWaitLimit), std::future_status::ready);
        flow.reset();
        EXPECT_EQ(count.load(), 6);
    }
}

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

TEST(Executor, TaskResultNotConvertibleToInt_IsIgnoredAndEverySuccessorRuns) {
    tf::Executor executor(2);
    tf::Taskflow flow;
    std::atomic<int> count{0};
    tf::Task text = flow.emplace([] { return std::string("not an index"); });
    text.precede(flow.emplace([&count] { count.fetch_add(1); }),
                 flow.emplace([&count] { count.fetch_add(1); }));
    executor.run(flow).get();
    EXPECT_EQ(count.load(), 2);
}

TEST(Executor, WorkWithIntResult_TurnsTheTaskIntoACondition) {
    tf::Executor executor(2);
    tf::Taskflow flow;
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    tf::Task task = flow.placeholder();
    task.precede(flow.emplace([&first] { first.fetch_add(1); }),
                 flow.emplace([&second] { second.fetch_add(1); }));
    task.work([] { return 1; });
    executor.run(flow).get();
    EXPECT_EQ(first.load(), 0);
    EXPECT_EQ(second.load(), 1);
    task.work([] {});  // a static task again: both successors run
    executor.run(flow).get();
    EXPECT_EQ(first.load(), 1);
    EXPECT_EQ(second.load(), 2);
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
