#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "module/engine/nvidia/det_algorithm_selector.h"
#include "module/engine/nvidia/tool/hlogging.h"
#include "module/engine/nvidia/krell_error_recorder.h"
#include "module/engine/nvidia/krell_profiler.h"
#include "module/common/log.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

using Severity = nvinfer1::ILogger::Severity;

TEST(Logger, ReportableError_PrintsErrorsAndDropsWarnings) {
    Logger logger(Severity::kERROR);
    EXPECT_EQ(captureStdout([&] { logger.log(Severity::kWARNING, "w"); }), "");
    EXPECT_EQ(captureStdout([&] { logger.log(Severity::kINFO, "i"); }), "");
    const std::string error = captureStdout([&] { logger.log(Severity::kERROR, "bad engine"); });
    EXPECT_EQ(error.rfind("[hlogging:", 0), 0U) << error;
    EXPECT_EQ(messageOf(error), "[INIT][TRT_KR_LOG][E] bad engine\x1b[0m\n");
    EXPECT_NE(error.find(" krell::det::Logger::log] "), std::string::npos) << error;
    EXPECT_EQ(messageOf(captureStdout([&] { logger.log(Severity::kINTERNAL_ERROR, "x"); })),
              "[INIT][TRT_KR_LOG][IE] x\x1b[0m\n");
}

TEST(Logger, VerboseSeverity_UsesInfoTagAtLevelThree) {
    Logger logger(Severity::kVERBOSE);
    std::vector<std::pair<uint8_t, std::string>> lines;
    setLogSink([&](uint8_t level, const std::string& text) {
        lines.emplace_back(level, messageOf(text));
    });
    logger.log(Severity::kWARNING, "w");
    logger.log(Severity::kINFO, "i");
    logger.log(Severity::kVERBOSE, "v");
    setLogSink(nullptr);
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0], std::make_pair(kLogWarning, std::string("[INIT][TRT_KR_LOG][W] w\x1b[0m")));
    EXPECT_EQ(lines[1], std::make_pair(kLogInfo, std::string("[INIT][TRT_KR_LOG][I] i\x1b[0m")));
    EXPECT_EQ(lines[2], std::make_pair(kLogInfo, std::string("[INIT][TRT_KR_LOG][I] v\x1b[0m")));
}

TEST(KrellErrorRecorder, OutOfRangeIndex_GivesInvalidArgumentAndFixedText) {
    Logger logger;
    KrellErrorRecorder recorder(&logger);
    EXPECT_TRUE(recorder.reportError(nvinfer1::ErrorCode::kFAILED_EXECUTION, "first"));
    for (int32_t index : {-1, 1, 100}) {
        EXPECT_EQ(recorder.getErrorCode(index), nvinfer1::ErrorCode::kINVALID_ARGUMENT);
        EXPECT_STREQ(recorder.getErrorDesc(index), "errorIdx out of range.");
    }
    EXPECT_EQ(recorder.getErrorCode(0), nvinfer1::ErrorCode::kFAILED_EXECUTION);
    EXPECT_FALSE(recorder.hasOverflowed());
}

TEST(KrellErrorRecorder, ReportedText_IsCopiedAndClearEmptiesTheList) {
    KrellErrorRecorder recorder(nullptr);
    std::string text = "weights missing";
    recorder.reportError(nvinfer1::ErrorCode::kINVALID_CONFIG, text.c_str());
    text.assign("overwritten by caller");
    EXPECT_EQ(recorder.getNbErrors(), 1);
    EXPECT_STREQ(recorder.getErrorDesc(0), "weights missing");
    recorder.clear();
    EXPECT_EQ(recorder.getNbErrors(), 0);
    EXPECT_EQ(recorder.incRefCount(), 1);
    EXPECT_EQ(recorder.incRefCount(), 2);
    EXPECT_EQ(recorder.decRefCount(), 1);
}

TEST(KrellErrorRecorder, ConcurrentReportsAndReads_LoseNothingAndKeepEarlierTexts) {
    KrellErrorRecorder recorder(nullptr);
    recorder.reportError(nvinfer1::ErrorCode::kINVALID_STATE, "first");
    const char* first = recorder.getErrorDesc(0);
    constexpr int kThreads = 4;
    constexpr int kReportsPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kReportsPerThread; ++i) {
                recorder.reportError(nvinfer1::ErrorCode::kINTERNAL_ERROR, "e");
                (void)recorder.getErrorDesc(recorder.getNbErrors() - 1);
                recorder.incRefCount();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(recorder.getNbErrors(), kThreads * kReportsPerThread + 1);
    EXPECT_EQ(recorder.decRefCount(), kThreads * kReportsPerThread - 1);
    EXPECT_STREQ(first, "first");  // still valid after the list grew
}

TEST(KrellProfiler, LayersMatchedByPosition_CountPassesOnWrapToFirstName) {
    KrellProfiler profiler;
    profiler.reportLayerTime("A", 1.0F);
    profiler.reportLayerTime("B", 2.0F);
    profiler.reportLayerTime("A", 3.0F);
    profiler.reportLayerTime("B", 4.0F);
    EXPECT_EQ(profiler.passes(), 2);
    auto records = profiler.records();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0], (KrellProfiler::Record{"A", {1.0F, 3.0F}}));
    EXPECT_EQ(records[1], (KrellProfiler::Record{"B", {2.0F, 4.0F}}));

    profiler.reportLayerTime("C", 5.0F);
    EXPECT_EQ(profiler.passes(), 2);
    records = profiler.records();
    ASSERT_EQ(records.size(), 3U);
    EXPECT_EQ(records[2], (KrellProfiler::Record{"C", {5.0F}}));
}

TEST(KrellProfiler, LongRuns_KeepBoundedRecentTimesAndCountEveryPass) {
    KrellProfiler profiler;
    constexpr int kPasses = 3 * static_cast<int>(KrellProfiler::kMaxTimesPerLayer) + 7;
    for (int pass = 0; pass < kPasses; ++pass) {
        profiler.reportLayerTime("A", static_cast<float>(pass));
        profiler.reportLayerTime("B", 0.5F);
    }
    EXPECT_EQ(profiler.passes(), kPasses);
    const auto records = profiler.records();
    ASSERT_EQ(records.size(), 2U);
    const std::vector<float>& times = records[0].second;
    EXPECT_LE(times.size(), KrellProfiler::kMaxTimesPerLayer);
    EXPECT_GE(times.size(), KrellProfiler::kMaxTimesPerLayer / 2);
    // The newest times are the ones kept, still in order.
    EXPECT_EQ(times.back(), static_cast<float>(kPasses - 1));
    EXPECT_EQ(times.front(), static_cast<float>(kPasses - static_cast<int>(times.size())));
}

TEST(DetAlgorithmSelector, SelectsEveryChoiceInOfferedOrder) {
    class Context : public nvinfer1::IAlgorithmContext {
    public:
        const char* getName() const noexcept override { return "conv"; }
        nvinfer1::Dims getDimensions(int32_t,
                                     nvinfer1::OptProfileSelector) const noexcept override {
            return {};
        }
        int32_t getNbInputs() const noexcept override { return 1; }
        int32_t getNbOutputs() const noexcept override { return 1; }
    } context;
    DetAlgorithmSelector selector;
    std::vector<int32_t> selection(6, -1);
    EXPECT_EQ(selector.selectAlgorithms(context, nullptr, 5, selection.data()), 5);
    EXPECT_EQ(selection, (std::vector<int32_t>{0, 1, 2, 3, 4, -1}));
    EXPECT_EQ(selector.selectAlgorithms(context, nullptr, 0, selection.data()), 0);
}

}  // namespace krell::det::test
