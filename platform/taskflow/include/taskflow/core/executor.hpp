#pragma once
// tf::Executor: a fixed number of worker threads that run single asynchronous tasks and whole
// tf::Taskflow graphs. Every member may be called from any thread, except wait_for_all from one of
// the executor's own workers (it would wait for itself). A task submitted from one of the
// executor's workers is queued at that worker first; idle workers take it over when it is busy.
#include <cstddef>
#include <future>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

#include "taskflow/core/export.hpp"
#include "taskflow/core/job.hpp"
#include "taskflow/core/taskflow.hpp"

namespace tf {

class TF_API Executor {
public:
    //! Creates an executor with `N` workers. With 0 workers it is created but refuses every task
    //! (std::runtime_error "no workers to execute the graph").
    explicit Executor(size_t N = std::thread::hardware_concurrency());
    //! Waits for every submitted task and every pending graph run, then releases the workers.
    ~Executor();
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    //! Number of worker threads given at construction.
    size_t num_workers() const noexcept;

    //! Runs `f()` on a worker; the future holds its result or the exception it threw.
    //! Throws std::runtime_error when the executor has no workers.
    template <typename F>
    auto async(F&& f) -> std::future<std::invoke_result_t<std::decay_t<F>>> {
        using R = std::invoke_result_t<std::decay_t<F>>;
        if (workers_ == 0) throwNoWorkers();
        std::packaged_task<R()> task(std::forward<F>(f));
        std::future<R> result = task.get_future();
        schedule(detail::Job(std::move(task)));
        return result;
    }

    //! Runs `f()` on a worker without a future; an exception it throws is dropped.
    //! Throws std::runtime_error when the executor has no workers.
    template <typename F>
    void silent_async(F&& f) {
        if (workers_ == 0) throwNoWorkers();
        schedule(detail::Job(std::forward<F>(f)));
    }

    //! Runs `flow` once: every static task after all of its predecessors; after a condition
    //! task only the successor its result picks. Runs of one graph are queued, as in Taskflow: a
    //! run starts when the graph's previous run (from any executor) has ended, so two never
    //! overlap. The future becomes ready when the run ends and rethrows the first exception of a
    //! task (tasks not yet started are then skipped), or at once with std::runtime_error for a
    //! graph whose static edges form a cycle. `flow` must outlive every pending run of it.
    //! Throws std::runtime_error when the executor has no workers.
    std::future<void> run(Taskflow& flow);

    //! Blocks until every task submitted so far, and every task those submit, has finished, and
    //! every graph run started here, queued ones included, has ended.
    void wait_for_all();

private:
    //! Throws std::runtime_error "no workers to execute the graph".
    [[noreturn]] static void throwNoWorkers();
    void schedule(detail::Job&& job);

    struct Impl;
    size_t workers_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tf
