// Compares the demo model's result bytes with the labels of a synthetic sequence.
#pragma once

#include <cstdint>
#include <string>

namespace krell::demo {

struct Score {
    int64_t true_positive = 0;
    int64_t false_positive = 0;
    int64_t false_negative = 0;
    int64_t frames = 0;
    //! 0 when nothing was predicted (or labelled).
    double precision() const;
    double recall() const;
    //! Adds one frame: a result byte (signed) at or above kNoiseCutoff predicts noise.
    void add(const uint8_t* results, const uint8_t* labels, int32_t points);
};

//! Scores every <labelDir>/<stem>.label against <resultDir>/<stem>_result.bin. False, with a
//! reason in error, when a result file is missing or short.
bool scoreSequence(const std::string& resultDir, const std::string& labelDir, Score& score,
                   std::string& error);

}  // namespace krell::demo
