// run: one sequence (an array task), or every sequence in this process.
#include <algorithm>
#include <cstdio>

#include "app/batch/src/batch_checks.h"
#include "app/batch/src/batch_commands.h"
#include "app/batch/src/sequence_runner.h"
#include "app/batch/src/sequence_status.h"

namespace krell::batch {
namespace {

// Runs entry unless it is complete; an unusable folder is reported with its manifest line.
int runIfIncomplete(const BatchOptions& options, const ManifestEntry& entry, size_t index) {
    const std::vector<ManifestProblem> problems = checkEntries({entry});
    if (!problems.empty()) {
        std::fprintf(stderr, "%s\n", problems.front().describe(options.manifest).c_str());
        return kExitManifest;
    }
    const SequenceStatus status = assessSequence(entry);
    if (status.state == SequenceState::kComplete) {
        std::fprintf(stderr, "sequence %zu (%s) is complete; nothing to do\n", index,
                     entry.input.c_str());
        return kExitOk;
    }
    std::fprintf(stderr, "sequence %zu (%s): %s, running\n", index, entry.input.c_str(),
                 status.reason.c_str());
    return runSequence(entry, index);
}

}  // namespace

int runCommand(const BatchOptions& options) {
    // Any bad line shifts the numbering of the sequences after it, so none runs.
    const std::optional<Manifest> manifest = loadCheckedManifest(options.manifest, false);
    if (!manifest) {
        return kExitManifest;
    }
    const std::vector<ManifestEntry>& entries = manifest->entries();
    if (!options.all) {
        const size_t index = *options.task;
        if (index >= entries.size()) {
            std::fprintf(stderr, "task %zu is outside the manifest: it lists %zu sequences (0..%zu)\n",
                         index, entries.size(), entries.size() - 1);
            return kExitManifest;
        }
        return runIfIncomplete(options, entries[index], index);
    }
    int worst = kExitOk;
    for (size_t i = 0; i < entries.size(); ++i) {
        worst = std::max(worst, runIfIncomplete(options, entries[i], i));
    }
    return worst;
}

}  // namespace krell::batch
