// conformance_runner: the C++ half of the engine conformance test. It takes a parameter file
// (whose "net_path" names a network container written by the Python side), a file of input frames
// and the prediction size, and pushes the frames one by one through krell::Denoise, which is what
// cloud_denoiser runs: the engine file is built from the container through TRTBuilder, then
// deserialised, given an execution context, enqueued on the runner's stream and synchronised,
// with the recurrent state carried from frame to frame when the network has one. The predictions
// are written back to back. Everything about the network is left to the files, so a misreading
// of the container or of a layer shows up only as a difference from the independent reference.
//
// Usage: conformance_runner CONFIG FRAMES_IN PREDICTIONS_OUT FRAME_COUNT PREDICTION_BYTES [copy]
// "copy" hands the state over by copying instead of exchanging the two state bindings.
// Exit codes: 0 done, 2 bad arguments or files, 3 Init failed, 4 a Run reported a failure.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/denoise/src/denoise.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitInit = 3;
constexpr int kExitRun = 4;

struct Arguments {
    std::string config;
    std::string frames_path;
    std::string predictions_path;
    size_t frame_count = 0;
    size_t prediction_bytes = 0;
    bool copy_state = false;
};

bool parseArguments(int argc, char** argv, Arguments& args) {
    if (argc != 6 && argc != 7) {
        return false;
    }
    args.config = argv[1];
    args.frames_path = argv[2];
    args.predictions_path = argv[3];
    try {
        args.frame_count = std::stoul(argv[4]);
        args.prediction_bytes = std::stoul(argv[5]);
    } catch (const std::exception&) {
        return false;
    }
    args.copy_state = argc == 7 && std::string(argv[6]) == "copy";
    return args.frame_count > 0 && args.prediction_bytes > 0 && (argc == 6 || args.copy_state);
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int runFrames(const Arguments& args) {
    std::vector<uint8_t> frames;
    if (!readFile(args.frames_path, frames) || frames.empty() ||
        frames.size() % args.frame_count != 0) {
        std::cerr << "conformance_runner: " << args.frames_path << " does not hold "
                  << args.frame_count << " frames of equal size\n";
        return kExitUsage;
    }
    const size_t frameBytes = frames.size() / args.frame_count;
    krell::Denoise denoise;
    krell::Denoise::HostAreas areas;
    areas.input_bytes = frameBytes;
    areas.output_bytes = args.prediction_bytes;
    if (!denoise.Init(args.config, 0, areas)) {
        std::cerr << "conformance_runner: Init failed for " << args.config << "\n";
        return kExitInit;
    }
    denoise.setStateHandoff(args.copy_state ? krell::Denoise::StateHandoff::kCopy
                                            : krell::Denoise::StateHandoff::kSwap);
    std::vector<uint8_t> predictions(args.frame_count * args.prediction_bytes);
    for (size_t i = 0; i < args.frame_count; ++i) {
        const int32_t status =
            denoise.Run(frames.data() + i * frameBytes, predictions.data() + i * args.prediction_bytes);
        if (status != 0) {
            std::cerr << "conformance_runner: Run of frame " << i << " returned " << status << "\n";
            return kExitRun;
        }
    }
    std::ofstream out(args.predictions_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(predictions.data()),
              static_cast<std::streamsize>(predictions.size()));
    return out ? 0 : kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!parseArguments(argc, argv, args)) {
        std::cerr << "usage: conformance_runner CONFIG FRAMES_IN PREDICTIONS_OUT FRAME_COUNT "
                     "PREDICTION_BYTES [copy]\n";
        return kExitUsage;
    }
    // The framework raises its lookup and JSON errors out of Init; they are a failure of this
    // network, reported with their text, not a crash.
    try {
        return runFrames(args);
    } catch (const std::exception& e) {
        std::cerr << "conformance_runner: exception: " << e.what() << "\n";
        return kExitInit;
    }
}
