#pragma once
// ScribeCapture: points the process-wide scribe logger at a file of this test process so that
// tests can check the lines the code under test wrote. Call Path() before anything logs (a
// namespace-scope constant in the test file does that).

#include <cstddef>
#include <string>

namespace krell {
namespace test {

class ScribeCapture {
public:
    //! The log file of this process; sets SCRIBE_LOG_FILE/SCRIBE_LEVEL/SCRIBE_CONSOLE on first
    //! call.
    static const std::string& Path();
    //! Waits until every queued line is written and returns the size of the log so far.
    static size_t Mark();
    //! Everything logged after `mark` (from Mark()).
    static std::string Since(size_t mark);
};

}  // namespace test
}  // namespace krell
