#include "tests/support/count_lines.h"

namespace krell {
namespace test {

int CountLines(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace test
}  // namespace krell
