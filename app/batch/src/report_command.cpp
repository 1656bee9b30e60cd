// report: the summaries of a manifest's sequences gathered into one table.
#include <algorithm>
#include <cstdio>
#include <limits>

#include "app/batch/src/batch_checks.h"
#include "app/batch/src/batch_commands.h"
#include "app/batch/src/sequence_status.h"

namespace krell::batch {
namespace {

// Totals over the sequences that have a summary.
struct Totals {
    size_t counts[4] = {0, 0, 0, 0};  // by SequenceState
    size_t frames = 0;
    size_t written = 0;
    double first_start = std::numeric_limits<double>::max();
    double last_finish = 0.0;

    void add(const SequenceStatus& status) {
        ++counts[static_cast<int>(status.state)];
        if (!status.summary) {
            return;
        }
        frames += status.summary->frames;
        written += status.summary->written;
        first_start = std::min(first_start, status.summary->started_at);
        last_finish = std::max(last_finish, status.summary->finished_at);
    }
    size_t count(SequenceState state) const { return counts[static_cast<int>(state)]; }
    double span() const { return last_finish > first_start ? last_finish - first_start : 0.0; }
};

void printRow(size_t index, const ManifestEntry& entry, const SequenceStatus& status) {
    if (!status.summary) {
        std::printf("%4zu  %-8s  %7s  %7s  %9s  %9s  %4s  %s\n", index, stateName(status.state),
                    "-", "-", "-", "-", "-", entry.input.c_str());
        return;
    }
    const SequenceSummary& s = *status.summary;
    std::printf("%4zu  %-8s  %7zu  %7zu  %9.1f  %9.3f  %4d  %s\n", index, stateName(status.state),
                s.frames, s.skipped.size(), s.frames_per_second, s.engine_build_seconds,
                s.exit_status, entry.input.c_str());
}

void printTotals(size_t sequences, const Totals& totals) {
    std::printf("%zu sequences: %zu done, %zu failed, %zu not run, %zu stale\n", sequences,
                totals.count(SequenceState::kComplete), totals.count(SequenceState::kFailed),
                totals.count(SequenceState::kNotRun), totals.count(SequenceState::kStale));
    const double span = totals.span();
    std::printf("frames: %zu of %zu written; aggregate %.1f frames/s over %.2f s from the first "
                "start to the last finish\n",
                totals.written, totals.frames, span > 0.0 ? totals.written / span : 0.0, span);
}

}  // namespace

int reportCommand(const BatchOptions& options) {
    const std::optional<Manifest> manifest = loadCheckedManifest(options.manifest, false);
    if (!manifest) {
        return kExitManifest;
    }
    std::printf("%4s  %-8s  %7s  %7s  %9s  %9s  %4s  %s\n", "seq", "state", "frames", "skipped",
                "frames/s", "engine_s", "exit", "input");
    const std::vector<ManifestEntry>& entries = manifest->entries();
    Totals totals;
    for (size_t i = 0; i < entries.size(); ++i) {
        const SequenceStatus status = assessSequence(entries[i]);
        printRow(i, entries[i], status);
        totals.add(status);
    }
    printTotals(entries.size(), totals);
    return totals.count(SequenceState::kComplete) == entries.size() ? kExitOk : kExitIncomplete;
}

}  // namespace krell::batch
