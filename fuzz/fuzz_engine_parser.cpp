// Fuzzes the engine-file reader: the input is a whole engine file. A rejected file (false) or a
// JSON exception is an expected outcome; a crash, a sanitizer report or any other exception is a
// bug. Every engine the parser reports must lie inside the input.
#include <cstdint>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_container_common.h"
#include "module/network/engine_parser.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    krell::det::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    krell::det::EngineParser parser(krell::det::fuzz::writeInput(data, size));
    try {
        if (!parser.parse()) {
            return 0;
        }
        uint64_t total = 0;
        for (const auto& [name, blob] : parser.getEngines()) {
            total += blob->size();
            parser.getEngine(name);
        }
        if (total > size) {
            __builtin_trap();
        }
        parser.getScales();
    } catch (const nlohmann::json::exception&) {}
    return 0;
}
