#include "DeviceBenchCore/snapshot/snapshot_diff.h"

namespace {

bool Differs(const SnapshotEntry& file, const SnapshotEntry& now) {
    if (!file.bytes.empty() && !now.bytes.empty()) return file.bytes != now.bytes;
    return file.text != now.text;
}

}  // namespace

std::vector<SnapshotChange> SnapshotDiff::Compare(const ParameterSnapshot& file,
                                                  const ParameterSnapshot& now,
                                                  const WritablePredicate& writable) {
    std::vector<SnapshotChange> changes;
    for (const SnapshotEntry& current : now.entries) {
        const SnapshotEntry* stored = file.Find(current.var_id);
        if (stored && !Differs(*stored, current)) continue;
        SnapshotChange change;
        change.var_id = current.var_id;
        change.name = current.name;
        change.device_text = current.text;
        change.device_bytes = current.bytes;
        change.in_file = stored != nullptr;
        if (stored) {
            change.file_text = stored->text;
            change.file_bytes = stored->bytes;
        }
        change.writable = writable && writable(current.var_id);
        changes.push_back(std::move(change));
    }
    for (const SnapshotEntry& stored : file.entries) {
        if (now.Find(stored.var_id)) continue;
        SnapshotChange change;
        change.var_id = stored.var_id;
        change.name = stored.name;
        change.file_text = stored.text;
        change.file_bytes = stored.bytes;
        change.on_device = false;
        change.writable = writable && writable(stored.var_id);
        changes.push_back(std::move(change));
    }
    return changes;
}

std::vector<SnapshotChange> SnapshotDiff::Writable(const std::vector<SnapshotChange>& changes) {
    std::vector<SnapshotChange> kept;
    for (const SnapshotChange& change : changes) {
        if (change.writable && change.in_file) kept.push_back(change);
    }
    return kept;
}

std::string SnapshotDiff::Describe(const SnapshotChange& change) {
    std::string line = change.name + ": ";
    if (!change.in_file) return line + change.device_text + " (not in the file)";
    if (!change.on_device) return line + "(not read from the sensor) -> " + change.file_text;
    line += change.device_text + " -> " + change.file_text;
    // Equal texts over different bytes: the shown text rounds what the sensor holds.
    if (change.device_text == change.file_text) {
        line += " (bytes " + SnapshotHex(change.device_bytes) + " -> " +
                SnapshotHex(change.file_bytes) + ")";
    }
    if (!change.writable) line += " (read-only)";
    return line;
}
