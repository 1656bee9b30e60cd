// The executor runs graphs in dependency order and single tasks at 1..4 workers, keeps its
// promised number of threads even on a machine with fewer cores, and refuses work without workers.
#include <taskflow/taskflow.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
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
    executor.silent_async([&] {
      executor.silent_async([&count] { count.fetch_add(1); });
    });
  }
  executor.wait_for_all();
  EXPECT_EQ(count.load(), 100);
}

INSTANTIATE_TEST_SUITE_P(Workers, ExecutorAtWorkers, ::testing::Values(1, 2, 3, 4));

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
  for (auto& result : results) EXPECT_TRUE(result.get());
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
  for (int i = 0; i < 50; ++i) first.precede(flow.emplace([&count] { count.fetch_add(1); }));
  executor.run(flow).get();
  executor.run(flow).get();
  EXPECT_EQ(count.load(), 100);
  EXPECT_EQ(flow.num_tasks(), 51u);
}

}  // namespace
