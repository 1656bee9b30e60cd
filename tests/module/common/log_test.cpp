#include "module/common/log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {
struct Probe {
    static int emit() {
        DET_LOG(kLogInfo) << "probe" << kLogReset;
        return __LINE__ - 1;
    }
};
}  // namespace

TEST(LogHeader, PathTail_IsTextAfterLastForwardSlash) {
    EXPECT_EQ(captureStdout(
                  [] { LogLine(kLogError, "a\\b/c", 7, "ns::f").stream() << "m" << kLogReset; }),
              "[c:7 ns::f] m\x1b[0m\n");
    EXPECT_EQ(captureStdout([] { LogLine(kLogError, "a\\b\\c", 8, "g").stream() << "m"; }),
              "[a\\b\\c:8 g] m\n");
    EXPECT_EQ(captureStdout([] { LogLine(kLogError, "dir/", 1, "g").stream() << "m"; }),
              "[:1 g] m\n");
}

TEST(LogHeader, Macro_NamesSourceWithoutExtensionAndQualifiedFunction) {
    int line = 0;
    const std::string out = captureStdout([&] { line = Probe::emit(); });
    // The probe sits in an anonymous namespace, which GCC spells "{anonymous}".
    EXPECT_EQ(out, "[log_test:" + std::to_string(line) +
                       " krell::det::test::{anonymous}::Probe::emit] probe\x1b[0m\n");
}

TEST(LogHeader, QualifiedFunctionName_StripsReturnTypeAndParameters) {
    EXPECT_EQ(qualifiedFunctionName(
                  "virtual void krell::det::Logger::log(nvinfer1::ILogger::Severity, const char*)"),
              "krell::det::Logger::log");
    EXPECT_EQ(qualifiedFunctionName("std::map<int, std::basic_string<char> > a::B::get(int) const"),
              "a::B::get");
    EXPECT_EQ(qualifiedFunctionName("krell::det::NvGPUBuffer::NvGPUBuffer(uint32_t)"),
              "krell::det::NvGPUBuffer::NvGPUBuffer");
    EXPECT_EQ(qualifiedFunctionName("void a::F::operator()(int) const"), "a::F::operator()");
    EXPECT_EQ(qualifiedFunctionName("bool a::F::operator<(const a::F&) const"), "a::F::operator<");
    EXPECT_EQ(qualifiedFunctionName("const std::vector<int>& a::P::operators() const"),
              "a::P::operators");
    EXPECT_EQ(qualifiedFunctionName("a::F::operator bool() const"), "a::F::operator bool");
    EXPECT_EQ(qualifiedFunctionName("a::E::E()::<lambda(int)>"), "a::E::E");
    EXPECT_EQ(qualifiedFunctionName("no_parens"), "no_parens");
}

TEST(LogOutput, LevelAboveThreshold_IsDropped) {
    EXPECT_EQ(captureStdout([] { LogLine(kLogThreshold + 1, "f", 1, "g").stream() << "hidden"; }),
              "");
    EXPECT_EQ(captureStdout([] { LogLine(kLogThreshold, "f", 1, "g").stream() << "shown"; }),
              "[f:1 g] shown\n");
}

TEST(LogOutput, Sink_ReceivesLevelAndLineInsteadOfStdout) {
    std::vector<std::pair<uint8_t, std::string>> lines;
    setLogSink([&](uint8_t level, const std::string& text) { lines.emplace_back(level, text); });
    const std::string out =
        captureStdout([] { LogLine(kLogWarning, "x/y", 3, "h").stream() << "w" << kLogReset; });
    setLogSink(nullptr);
    EXPECT_EQ(out, "");
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].first, kLogWarning);
    EXPECT_EQ(lines[0].second, "[y:3 h] w\x1b[0m");
}

TEST(LogOutput, MessageThatLogsWhileComposed_KeepsBothLinesWhole) {
    auto inner = [] {
        LogLine(kLogError, "in", 2, "inner").stream() << "nested";
        return "tail";
    };
    const std::string out = captureStdout(
        [&] { LogLine(kLogError, "out", 1, "outer").stream() << "head " << inner(); });
    EXPECT_EQ(out, "[in:2 inner] nested\n[out:1 outer] head tail\n");
}

}  // namespace krell::det::test
