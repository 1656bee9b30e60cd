#include "app/denoise/src/driver.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "app/denoise/src/denoise.h"
#include "app/denoise/src/frame_quantizer.h"
#include "app/denoise/src/result_file.h"

namespace krell {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kConfigPath = "config/test.json";
constexpr const char* kUsage =
    "Usage: ./cloud_denoiser <pointcloud folder/file> <result folder/file>";

// One frame read and quantised ahead of the pipeline. Its messages are kept until the frame's
// turn so that standard output stays in file order.
struct LoadedFrame {
    std::vector<uint8_t> raw = std::vector<uint8_t>(frame::kRawFrameBytes);
    std::vector<int8_t> quantized = std::vector<int8_t>(frame::kQuantizedFrameBytes, 0);
    std::string messages;
    bool ok = false;
};

void loadFrame(const std::string& path, LoadedFrame& frame) {
    frame.messages.clear();
    frame.ok = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        frame.messages = "open file error: " + path + "\n";
        return;
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<long long>(in.tellg());
    if (size < static_cast<long long>(frame::kRawFrameBytes)) {
        frame.messages = "file size error: " + std::to_string(size) + "\n";
        return;
    }
    frame.messages = "file size: " + std::to_string(size) + "\n";
    // Only the frame itself is read: bytes beyond it are not part of this frame.
    in.seekg(0, std::ios::beg);
    in.read(reinterpret_cast<char*>(frame.raw.data()),
            static_cast<std::streamsize>(frame::kRawFrameBytes));
    if (!in) {
        frame.messages += "open file error: " + path + "\n";
        return;
    }
    frame::quantizeFrame(frame.raw.data(), frame.quantized.data());
    frame.ok = true;
}

// What became of the frames of one run; printed at its end when any produced no result.
struct FrameTally {
    size_t total = 0;
    size_t written = 0;
    size_t inference_failed = 0;

    int exitCode() const { return written == total ? 0 : kExitFramesSkipped; }
    void printSummary() const {
        if (written == total) {
            return;
        }
        std::fprintf(stderr, "%zu of %zu frames written, %zu skipped after a failed inference\n",
                     written, total, inference_failed);
    }
};

bool writeResult(const std::string& output, const std::vector<uint8_t>& result) {
    const frame::WriteOutcome outcome =
        frame::writeFileReplacing(output, result.data(), result.size());
    if (outcome.stage == frame::WriteStage::kOpen) {
        std::printf("open file error: %s\n", output.c_str());
    } else if (outcome.stage == frame::WriteStage::kWrite) {
        std::printf("write file error: %s: %s\n", output.c_str(), std::strerror(outcome.error));
    }
    return outcome.stage == frame::WriteStage::kDone;
}

// Runs one loaded frame and writes its result. A failed inference writes nothing: the result
// buffer then holds whatever the previous frame left there.
void runFrame(const FrameInference& infer, const std::string& input, const std::string& output,
              const LoadedFrame& frame, std::vector<uint8_t>& result, FrameTally& tally) {
    ++tally.total;
    std::fputs(frame.messages.c_str(), stdout);
    if (!frame.ok) {
        return;
    }
    const Clock::time_point start = Clock::now();
    const int32_t status = infer(frame.quantized.data(), result.data());
    const auto elapsedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    const float elapsedMs = static_cast<float>(elapsedNs / 1000) / 1000.0F;
    std::printf("File: %s :DeNoise Network time: %f\n", input.c_str(), elapsedMs);
    if (status != 0) {
        std::printf("inference error: %s (status %d), frame skipped\n", input.c_str(),
                    static_cast<int>(status));
        ++tally.inference_failed;
        return;
    }
    tally.written += writeResult(output, result) ? 1 : 0;
}

void printProgress(size_t done, size_t total, Clock::time_point started) {
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
    const double left = rate > 0.0 ? static_cast<double>(total - done) / rate : 0.0;
    std::fprintf(stderr, "frame %zu of %zu, %.1f frames/s, %.0f s left%s", done, total, rate, left,
                 isatty(STDERR_FILENO) != 0 ? "\r" : "\n");
}

// Frames are read and quantised one ahead on a worker while the pipeline runs the current one;
// the pipeline itself still sees the frames one at a time, in path order.
FrameTally runFolder(const FrameInference& infer, const std::vector<fs::path>& inputs,
                     const std::string& outputDir) {
    std::vector<uint8_t> result(frame::kResultBytes);
    LoadedFrame frames[2];
    std::future<void> pending;
    if (!inputs.empty()) {
        loadFrame(inputs[0].string(), frames[0]);
    }
    FrameTally tally;
    const Clock::time_point started = Clock::now();
    for (size_t i = 0; i < inputs.size(); ++i) {
        LoadedFrame& current = frames[i % 2];
        if (i + 1 < inputs.size()) {
            pending = std::async(std::launch::async, loadFrame, inputs[i + 1].string(),
                                 std::ref(frames[(i + 1) % 2]));
        }
        const std::string output = outputDir + "/" + inputs[i].stem().string() + "_result.bin";
        runFrame(infer, inputs[i].string(), output, current, result, tally);
        std::fflush(stdout);
        printProgress(i + 1, inputs.size(), started);
        if (pending.valid()) {
            pending.get();
        }
    }
    return tally;
}

int runFile(const FrameInference& infer, const std::string& input, const std::string& output) {
    std::printf("input_path is a file\n");
    LoadedFrame frame;
    std::vector<uint8_t> result(frame::kResultBytes);
    loadFrame(input, frame);
    FrameTally tally;
    runFrame(infer, input, output, frame, result, tally);
    tally.printSummary();
    return tally.exitCode();
}

}  // namespace

int processPaths(const FrameInference& infer, const std::string& input, const std::string& output) {
    const bool valid = fs::exists(input) && (!fs::is_directory(input) || !fs::exists(output) ||
                                             fs::is_directory(output));
    if (!valid) {
        std::printf("ERROR: input folder or file not exist or output_folder isn't a folder\n");
        return kExitPathError;
    }
    if (!fs::exists(output) && fs::is_directory(input)) {
        fs::create_directories(output);
    }
    if (fs::is_regular_file(input)) {
        return runFile(infer, input, output);
    }
    if (fs::equivalent(input, output)) {
        std::printf("ERROR: input_path equals to output_path\n");
        return kExitPathError;
    }
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(input)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    std::vector<fs::path> files;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(files),
                 [](const fs::path& path) { return fs::is_regular_file(path); });
    const FrameTally tally = runFolder(infer, files, output);
    tally.printSummary();
    return tally.exitCode();
}

namespace {

void printHelp() {
    std::printf(
        "%s\n\n"
        "Runs the denoise network over recorded frames. The input is one frame file or a folder\n"
        "of them (processed in path order, which is taken as time order); each frame holds\n"
        "163840 points of four little-endian floats (x, y, z, intensity). Each result file holds\n"
        "one byte per point. For a folder the results are written as <stem>_result.bin into the\n"
        "output folder, which is created when missing. A result file appears only complete: it\n"
        "is written as <name>.part beside it and renamed. A frame whose inference fails gets no\n"
        "result file; the run goes on with the next frame and counts it.\n\n"
        "The model is described by config/test.json in the working directory; its engine file\n"
        "is built from the network file on first use, by one process at a time (the others wait\n"
        "on <engine file>.lock and then load it).\n\n"
        "Exit status: 0 all frames written, 1 usage, 2 path error, 3 frames skipped (short or\n"
        "unreadable input, failed inference, result not written; counted on standard error),\n"
        "4 the pipeline could not be set up (including an engine whose input or prediction\n"
        "size differs from the frame layout above).\n",
        kUsage);
}

}  // namespace

int runCloudDenoiser(int argc, char** argv) {
    if (argc >= 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        printHelp();
        return 0;
    }
    if (argc < 3) {
        std::printf("%s\n", kUsage);
        return 1;
    }
    Denoise denoise;
    if (!denoise.Init(kConfigPath, 0)) {
        return kExitInitFailed;
    }
    return processPaths(
        [&denoise](const int8_t* quantized, uint8_t* prediction) {
            return denoise.Run(quantized, prediction);
        },
        argv[1], argv[2]);
}

}  // namespace krell
