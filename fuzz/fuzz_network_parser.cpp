// Fuzzes the network-file reader: the input is a whole network file. A rejected file (false) or
// a JSON exception is an expected outcome; a crash, a sanitizer report or any other exception is
// a bug. A file that parses is also written back as an engine file and read by the engine
// parser, so the writer sees every header shape the reader accepts.
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_container_common.h"
#include "module/network/engine_parser.h"
#include "module/network/nvidia/network_parser.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    krell::det::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using krell::det::fuzz::scratch;
    const std::string enginePath = scratch().path("engine");
    krell::det::NetworkParser parser(krell::det::fuzz::writeInput(data, size), enginePath);
    try {
        if (!parser.parse()) {
            return 0;
        }
        const uint32_t weights = parser.getWeightsSize();
        if (weights > 0 && parser.getWeights() == nullptr) {
            __builtin_trap();
        }
        if (parser.write({})) {
            krell::det::EngineParser engines(enginePath);
            engines.parse();
        }
    } catch (const nlohmann::json::exception&) {}
    return 0;
}
