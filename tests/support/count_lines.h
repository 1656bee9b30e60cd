#pragma once
// CountLines: how often a log line (or any text) turns up in captured output, for tests that
// check a failure is logged once and not on every retry.

#include <string>

namespace krell {
namespace test {

//! Occurrences of `needle` in `text`, overlapping ones included; 0 for an empty `text`.
int CountLines(const std::string& text, const std::string& needle);

}  // namespace test
}  // namespace krell
