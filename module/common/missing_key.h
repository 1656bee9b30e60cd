// The failure of a name lookup that must succeed: after its own level-1 line, the caller raises
// the standard out-of-range error with the text the framework's lookups have always carried.
#pragma once

#include <stdexcept>

namespace krell::det {

[[noreturn]] inline void throwMissingKey() {
    throw std::out_of_range("invalid unordered_map<K, T> key");
}

}  // namespace krell::det
