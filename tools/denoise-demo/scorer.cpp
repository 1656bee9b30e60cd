#include "tools/denoise-demo/scorer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/denoise-demo/demo_network.h"

namespace krell::demo {
namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

double Score::precision() const {
    const int64_t predicted = true_positive + false_positive;
    return predicted == 0 ? 0.0 : static_cast<double>(true_positive) / predicted;
}

double Score::recall() const {
    const int64_t labelled = true_positive + false_negative;
    return labelled == 0 ? 0.0 : static_cast<double>(true_positive) / labelled;
}

void Score::add(const uint8_t* results, const uint8_t* labels, int32_t points) {
    for (int32_t i = 0; i < points; ++i) {
        const bool predicted = static_cast<int8_t>(results[i]) >= kNoiseCutoff;
        const bool noise = labels[i] != 0;
        true_positive += predicted && noise ? 1 : 0;
        false_positive += predicted && !noise ? 1 : 0;
        false_negative += !predicted && noise ? 1 : 0;
    }
    ++frames;
}

bool scoreSequence(const std::string& resultDir, const std::string& labelDir, Score& score,
                   std::string& error) {
    std::vector<std::filesystem::path> labels;
    for (const auto& entry : std::filesystem::directory_iterator(labelDir)) {
        if (entry.path().extension() == ".label") {
            labels.push_back(entry.path());
        }
    }
    std::sort(labels.begin(), labels.end());
    for (const auto& label : labels) {
        const auto result =
            std::filesystem::path(resultDir) / (label.stem().string() + "_result.bin");
        const std::vector<uint8_t> truth = readAll(label);
        const std::vector<uint8_t> predicted = readAll(result);
        if (predicted.size() != truth.size() || truth.size() != static_cast<size_t>(kPoints)) {
            error = "missing or short result file " + result.string();
            return false;
        }
        score.add(predicted.data(), truth.data(), kPoints);
    }
    return true;
}

}  // namespace krell::demo
