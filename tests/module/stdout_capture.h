// Runs a callable with standard output captured and returns what it printed.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace krell::det::test {

template <class Fn>
std::string captureStdout(Fn&& fn) {
    testing::internal::CaptureStdout();
    try {
        fn();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

//! The message part of one emitted line: everything after the header's "] ".
inline std::string messageOf(const std::string& line) {
    const size_t end = line.find("] ");
    return end == std::string::npos ? line : line.substr(end + 2);
}

}  // namespace krell::det::test
