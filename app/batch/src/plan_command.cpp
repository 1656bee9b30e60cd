// plan and engine: what a submission would do, and the engine build it runs first.
#include <cstdio>

#include "app/batch/src/batch_checks.h"
#include "app/batch/src/batch_commands.h"
#include "app/batch/src/sequence_status.h"
#include "app/denoise/src/denoise.h"

namespace krell::batch {
namespace {

void printModel(const ModelFiles& model) {
    if (model.engine_present) {
        std::printf("model: engine %s present\n", model.engine.c_str());
    } else {
        std::printf("model: engine %s missing; built once from %s before the tasks start\n",
                    model.engine.c_str(), model.net.c_str());
    }
}

}  // namespace

int planCommand(const BatchOptions& options) {
    std::optional<Manifest> manifest;
    ModelFiles model;
    if (const int failed = checkManifestAndModel(options.manifest, manifest, model)) {
        return failed;
    }
    printModel(model);
    const std::vector<ManifestEntry>& entries = manifest->entries();
    size_t complete = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const SequenceStatus status = assessSequence(entries[i]);
        if (status.state == SequenceState::kComplete) {
            std::printf("skip %zu (line %zu): %s complete\n", i, entries[i].line,
                        entries[i].input.c_str());
            ++complete;
        }
    }
    std::printf("%zu sequences: %zu to run, %zu complete and skipped\n", entries.size(),
                entries.size() - complete, complete);
    return kExitOk;
}

int engineCommand() {
    const ModelFiles model = checkModel();
    for (const std::string& problem : model.problems) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
    if (!model.ok()) {
        return kExitModel;
    }
    if (model.engine_present) {
        std::printf("engine %s present\n", model.engine.c_str());
        return kExitOk;
    }
    // Init builds the missing engine under its lock; loading it afterwards proves it usable.
    Denoise denoise;
    if (!denoise.Init(kConfigPath, 0)) {
        return kExitModel;
    }
    std::printf("engine %s ready after %.3f s\n", model.engine.c_str(),
                denoise.engineBuildSeconds());
    return kExitOk;
}

}  // namespace krell::batch
