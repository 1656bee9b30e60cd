#include "worker_limit.h"

namespace tf {

WorkerLimit& WorkerLimit::instance() {
  static WorkerLimit limit;
  return limit;
}

void WorkerLimit::acquire(size_t workers) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++live_[workers];
  update();
}

void WorkerLimit::release(size_t workers) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = live_.find(workers);
  if (it == live_.end()) return;
  if (--it->second == 0) live_.erase(it);
  update();
}

void WorkerLimit::update() {
  // The thread that submits counts as one participant besides the workers.
  const size_t wanted = live_.empty() ? 0 : live_.rbegin()->first + 1;
  if (wanted == control_value_) return;
  control_.reset();
  if (wanted > 0) {
    control_ = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism,
                                                     wanted);
  }
  control_value_ = wanted;
}

}  // namespace tf
