#include "tests/support/wait_until.h"

#include <chrono>
#include <thread>

namespace krell {
namespace test {

bool WaitUntil(const std::function<bool()>& predicate, int limit_ms) {
    for (int waited = 0; waited < limit_ms && !predicate(); waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return predicate();
}

}  // namespace test
}  // namespace krell
