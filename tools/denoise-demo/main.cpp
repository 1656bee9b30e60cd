// denoise-demo: makes the demo model and its synthetic frames, and scores results.
//   denoise-demo model <dir>                  network files of both generations, config/test.json
//   denoise-demo frames <frames> <labels> <count> [seed]
//   denoise-demo score <results> <labels>     prints precision and recall
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/denoise-demo/demo_network.h"
#include "tools/denoise-demo/scorer.h"
#include "tools/denoise-demo/synthetic_scene.h"

namespace {

constexpr double kNoiseFraction = 0.003;
constexpr int32_t kMaxFrames = 10000;

int makeModel(const std::string& dir) {
    std::filesystem::create_directories(dir + "/config");
    std::filesystem::create_directories(dir + "/model");
    if (!krell::demo::writeNetworkFile(dir + "/model/denoise_v004.net", "v0.0.4") ||
        !krell::demo::writeNetworkFile(dir + "/model/denoise_v002.net", "0.0.2")) {
        std::fprintf(stderr, "cannot write the network files in %s/model\n", dir.c_str());
        return 1;
    }
    std::ofstream config(dir + "/config/test.json");
    config << krell::demo::makeConfig("model/denoise_v004.net", "model/denoise_v004.engine").dump(4)
           << "\n";
    return config ? 0 : 1;
}

int makeFrames(const std::string& frames, const std::string& labels, int32_t count, uint32_t seed) {
    if (count < 1 || count > kMaxFrames) {
        std::fprintf(stderr, "frame count must be 1..%d\n", kMaxFrames);
        return 1;
    }
    std::filesystem::create_directories(frames);
    std::filesystem::create_directories(labels);
    if (!krell::demo::writeSequence(frames, labels, seed, count, kNoiseFraction)) {
        std::fprintf(stderr, "cannot write the frames\n");
        return 1;
    }
    return 0;
}

int score(const std::string& results, const std::string& labels) {
    krell::demo::Score total;
    std::string error;
    if (!krell::demo::scoreSequence(results, labels, total, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("frames %lld precision %.3f recall %.3f\n", static_cast<long long>(total.frames),
                total.precision(), total.recall());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "model" && argc == 3) {
            return makeModel(argv[2]);
        }
        if (command == "frames" && (argc == 5 || argc == 6)) {
            const uint32_t seed = argc == 6 ? static_cast<uint32_t>(std::atoi(argv[5])) : 1U;
            return makeFrames(argv[2], argv[3], std::atoi(argv[4]), seed);
        }
        if (command == "score" && argc == 4) {
            return score(argv[2], argv[3]);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "denoise-demo: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: denoise-demo model <dir> | frames <frames> <labels> <count> [seed] | "
                 "score <results> <labels>\n");
    return 1;
}
