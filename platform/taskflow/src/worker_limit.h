#pragma once
// WorkerLimit: oneTBB caps its worker threads at the machine's core count unless a global control
// lifts the cap. Each executor promises its own number of threads (callers may block in tasks),
// so the process holds one control at the largest worker count of all live executors.
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

#include <oneapi/tbb/global_control.h>

namespace tf {

class WorkerLimit {
 public:
  //! The one instance of the process.
  static WorkerLimit& instance();

  //! Registers an executor of `workers` threads; the cap rises when it is the largest.
  void acquire(size_t workers);
  //! Forgets one executor of `workers` threads; the cap follows the largest remaining.
  void release(size_t workers);

 private:
  WorkerLimit() = default;
  void update();

  std::mutex mutex_;                             // guards both members
  std::map<size_t, size_t> live_;                // worker count -> executors of that size
  std::unique_ptr<tbb::global_control> control_;  // at most one, so the largest value holds
  size_t control_value_ = 0;
};

}  // namespace tf
