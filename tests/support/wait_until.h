#pragma once
// WaitUntil: polls a condition that another thread makes true, bounded in time so that a test
// that goes wrong fails instead of hanging.

#include <functional>

namespace krell {
namespace test {

//! Polls `predicate` every 10 ms for at most `limit_ms`; returns its last value.
bool WaitUntil(const std::function<bool()>& predicate, int limit_ms = 5000);

}  // namespace test
}  // namespace krell
