#pragma once
// Sends this test program's log lines to a file of its own, set up before anything logs, so tests
// can count the lines a scenario wrote.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "scribe/logger.h"

namespace krell_test {

inline const std::string& TestLogPath() {
  static const std::string path = [] {
    std::string p = ::testing::TempDir() + "krell_source_test_" + std::to_string(::getpid()) + ".log";
    ::setenv("SCRIBE_LOG_FILE", p.c_str(), 1);
    ::setenv("SCRIBE_CONSOLE", "0", 1);
    ::setenv("SCRIBE_LEVEL", "info", 1);
    return p;
  }();
  return path;
}

// Runs before main(), so the logger singleton starts with the file above.
inline const bool kTestLogReady = !TestLogPath().empty();

inline std::string ReadTestLog() {
  Logger::GetInstance().Flush();
  std::ifstream in(TestLogPath());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline int CountLines(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// Lines logged from now on: the log text after the current end.
class LogMark {
 public:
  LogMark() : start_(ReadTestLog().size()) {}
  std::string Since() const { return ReadTestLog().substr(start_); }

 private:
  size_t start_;
};

}  // namespace krell_test
