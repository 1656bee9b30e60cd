#include "app/batch/src/sequence_summary.h"

#include <cstring>
#include <fstream>

#include <nlohmann/json.hpp>

#include "app/denoise/src/result_file.h"

namespace krell::batch {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

Json toJson(const SequenceSummary& s) {
    return Json{{"sequence", s.sequence},
                {"input", s.input},
                {"output", s.output},
                {"frames", s.frames},
                {"written", s.written},
                {"skipped", s.skipped.size()},
                {"skipped_frames", s.skipped},
                {"seconds", s.seconds},
                {"frames_per_second", s.frames_per_second},
                {"engine_build_seconds", s.engine_build_seconds},
                {"exit_status", s.exit_status},
                {"started_at", s.started_at},
                {"finished_at", s.finished_at},
                {"host", s.host},
                {"job", s.job}};
}

SequenceSummary fromJson(const Json& j) {
    SequenceSummary s;
    s.sequence = j.at("sequence").get<size_t>();
    s.input = j.at("input").get<std::string>();
    s.output = j.at("output").get<std::string>();
    s.frames = j.at("frames").get<size_t>();
    s.written = j.at("written").get<size_t>();
    s.skipped = j.at("skipped_frames").get<std::vector<std::string>>();
    s.seconds = j.at("seconds").get<double>();
    s.frames_per_second = j.at("frames_per_second").get<double>();
    s.engine_build_seconds = j.at("engine_build_seconds").get<double>();
    s.exit_status = j.at("exit_status").get<int>();
    s.started_at = j.at("started_at").get<double>();
    s.finished_at = j.at("finished_at").get<double>();
    s.host = j.value("host", "");
    s.job = j.value("job", "");
    return s;
}

}  // namespace

fs::path summaryPath(const fs::path& outputFolder) {
    return outputFolder / kSummaryFileName;
}

bool writeSummary(const SequenceSummary& summary, std::string& error) {
    const std::string text = toJson(summary).dump(2) + "\n";
    const fs::path path = summaryPath(summary.output);
    const frame::WriteOutcome outcome = frame::writeFileReplacing(
        path.string(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (outcome.stage != frame::WriteStage::kDone) {
        error = path.string() + ": " + std::strerror(outcome.error);
        return false;
    }
    return true;
}

std::optional<SequenceSummary> readSummary(const fs::path& outputFolder, std::string& error) {
    error.clear();
    const fs::path path = summaryPath(outputFolder);
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    try {
        return fromJson(Json::parse(in));
    } catch (const std::exception& failure) {
        error = path.string() + " is not a summary: " + failure.what();
        return std::nullopt;
    }
}

}  // namespace krell::batch
