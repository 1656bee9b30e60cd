#include "app/batch/src/batch_options.h"

#include <cstdlib>
#include <set>

namespace krell::batch {
namespace {

namespace fs = std::filesystem;

const std::set<std::string> kManifestCommands = {"plan", "run", "submit", "report"};

// A whole decimal number, nothing before or after it.
bool parseCount(const std::string& text, size_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9) {
        return false;
    }
    value = std::stoul(text);
    return true;
}

bool taskFromEnvironment(std::optional<size_t>& task, std::string& error) {
    for (const char* name : {"SLURM_ARRAY_TASK_ID", "JOB_COMPLETION_INDEX"}) {
        const char* value = std::getenv(name);
        if (value == nullptr) {
            continue;
        }
        size_t index = 0;
        if (!parseCount(value, index)) {
            error = std::string(name) + " is not a task number: " + value;
            return false;
        }
        task = index;
        return true;
    }
    return true;
}

// One option of a sub-command at argv[i] (advancing i past its value).
bool parseOption(int argc, char** argv, int& i, BatchOptions& options, std::string& error) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    const std::string value = hasValue ? argv[i + 1] : "";
    size_t number = 0;
    if (options.command == "run" && option == "--all") {
        options.all = true;
        return true;
    }
    if (!hasValue) {
        error = option + " needs a value or is unknown";
        return false;
    }
    ++i;
    if (options.command == "run" && option == "--task" && parseCount(value, number)) {
        options.task = number;
    } else if (options.command == "submit" && option == "--partition" && !value.empty()) {
        options.partition = value;
    } else if (options.command == "submit" && option == "--max-parallel" &&
               parseCount(value, number) && number > 0) {
        options.max_parallel = number;
    } else if (options.command == "submit" && option == "--sbatch-arg" && !value.empty()) {
        options.sbatch_args.push_back(value);
    } else {
        error = "unknown option or bad value for " + options.command + ": " + option + " " + value;
        return false;
    }
    return true;
}

}  // namespace

bool parseOptions(int argc, char** argv, BatchOptions& options, std::string& error) {
    if (argc < 2) {
        error = "missing sub-command";
        return false;
    }
    options.command = argv[1];
    if (options.command == "--help" || options.command == "-h" || options.command == "help") {
        options.command = "help";
        return true;
    }
    if (options.command == "engine") {
        if (argc != 2) {
            error = "engine takes no arguments";
            return false;
        }
        return true;
    }
    if (kManifestCommands.count(options.command) == 0) {
        error = "unknown sub-command " + options.command;
        return false;
    }
    if (argc < 3) {
        error = options.command + " needs a manifest";
        return false;
    }
    options.manifest = fs::absolute(argv[2]);
    for (int i = 3; i < argc; ++i) {
        if (!parseOption(argc, argv, i, options, error)) {
            return false;
        }
    }
    if (options.command == "run" && !options.all && !options.task &&
        (!taskFromEnvironment(options.task, error) || !options.task)) {
        error = error.empty() ? "run needs --task I, --all or SLURM_ARRAY_TASK_ID" : error;
        return false;
    }
    if (options.all && options.task) {
        error = "run takes either --task or --all";
        return false;
    }
    return true;
}

const char* helpText() {
    return R"(Usage: cloud_denoiser-batch <sub-command> [MANIFEST] [options]

Denoises many recorded sequences, one Slurm array task per sequence, with the same pipeline and
results as cloud_denoiser. Run it from the folder that holds the model's config/test.json (as
cloud_denoiser); the manifest lists one sequence a line: its input folder and its output folder,
separated by blanks (relative paths are taken from the manifest's folder; '#' starts a comment).

  plan MANIFEST      check every line and the model; print the count and the sequences that
                     are complete and would be skipped
  run MANIFEST --task I
                     denoise sequence I (from 0; default $SLURM_ARRAY_TASK_ID, then
                     $JOB_COMPLETION_INDEX) and write denoise_summary.json into its output
                     folder; does nothing when that sequence is already complete
  run MANIFEST --all denoise every incomplete sequence, one after another in this process
  engine             build the engine file when it is missing (once, under a lock beside it)
  submit MANIFEST [--partition P] [--max-parallel K] [--sbatch-arg ARG]...
                     write the job scripts into MANIFEST.slurm/ and submit one sbatch array
                     over the incomplete sequences (logs in MANIFEST.slurm/logs/, at most K
                     at once), after an engine job when the engine is missing; prints the
                     array's job id. --sbatch-arg passes ARG to both sbatch calls (--gres=gpu:1)
  report MANIFEST    one line per sequence from the summaries, and the totals

A sequence is complete when its summary reports exit status 0 and every frame has a result at
least as new as the frame; a run first removes the sequence's summary and results, so a task
stopped midway leaves it incomplete and a resubmitted or requeued array redoes only that one.
While a process runs a sequence it holds denoise_run.lock in the output folder.

Exit status:
  0  success (report: every sequence complete)
  1  usage error
  2  manifest problem: unreadable, a bad line (printed with its line number), a folder that
     cannot be used, or a task number outside the manifest
  3  run: frames were skipped (short or unreadable input, failed inference); report: some
     sequences are not complete
  4  the model could not be set up (config/test.json, network or engine file)
  5  submit: the job scripts could not be written, or sbatch is missing or refused the job
  6  run: the summary (or the output folder) could not be written
  7  run: another process is running the same sequence; it was left alone
)";
}

}  // namespace krell::batch
