// submit: one sbatch array over the incomplete sequences of a manifest.
#include <cstdio>
#include <filesystem>

#include "app/batch/src/batch_checks.h"
#include "app/batch/src/batch_commands.h"
#include "app/batch/src/sequence_status.h"
#include "app/batch/src/slurm_submission.h"

namespace krell::batch {
namespace {

namespace fs = std::filesystem;

std::vector<size_t> incompleteSequences(const Manifest& manifest) {
    std::vector<size_t> tasks;
    const std::vector<ManifestEntry>& entries = manifest.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (assessSequence(entries[i]).state != SequenceState::kComplete) {
            tasks.push_back(i);
        }
    }
    return tasks;
}

}  // namespace

int submitCommand(const BatchOptions& options) {
    std::optional<Manifest> manifest;
    ModelFiles model;
    if (const int failed = checkManifestAndModel(options.manifest, manifest, model)) {
        return failed;
    }
    SubmitSettings settings;
    settings.manifest = options.manifest;
    settings.workdir = fs::current_path();
    settings.program = fs::read_symlink("/proc/self/exe");
    settings.partition = options.partition;
    settings.max_parallel = options.max_parallel;
    settings.sbatch_args = options.sbatch_args;
    settings.tasks = incompleteSequences(*manifest);
    settings.build_engine = !model.engine_present;
    if (settings.tasks.empty()) {
        std::fprintf(stderr, "all %zu sequences are complete; nothing submitted\n",
                     manifest->entries().size());
        return kExitOk;
    }
    const SlurmSubmission submission(settings);
    std::string error;
    if (!submission.writeScripts(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitSubmit;
    }
    const std::optional<std::string> job = submission.submit(error);
    if (!job) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitSubmit;
    }
    std::fprintf(stderr, "submitted array %s: %zu of %zu sequences (--array=%s)%s; logs in %s\n",
                 job->c_str(), settings.tasks.size(), manifest->entries().size(),
                 submission.arraySpec().c_str(),
                 settings.build_engine ? ", after an engine build job" : "",
                 (submission.jobFolder() / "logs").c_str());
    std::printf("%s\n", job->c_str());
    return kExitOk;
}

}  // namespace krell::batch
