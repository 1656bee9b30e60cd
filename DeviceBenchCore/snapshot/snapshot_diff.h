#pragma once
// SnapshotDiff: what differs between a snapshot file and the sensor now. Entries are matched by
// table id; two entries differ when their device bytes differ (or, where a side holds no bytes,
// their texts), so a value shown rounded is never taken for equal when the sensor holds another.
// Stateless; any thread.

#include <functional>
#include <string>
#include <vector>

#include "DeviceBenchCore/snapshot/parameter_snapshot.h"

//! One parameter that differs.
struct SnapshotChange {
    std::string var_id;
    std::string name;
    std::string file_text;
    std::string device_text;
    std::vector<uint8_t> file_bytes;
    std::vector<uint8_t> device_bytes;
    bool in_file = true;    // false: the sensor has it, the file does not
    bool on_device = true;  // false: the file has it, the sensor gave no value
    bool writable = false;  // the table lets a save write it
};

class SnapshotDiff {
public:
    using WritablePredicate = std::function<bool(const std::string& var_id)>;

    //! The differences in the order of `now` (then the file's entries the sensor lacks).
    //! `writable` marks the changes a save can write.
    static std::vector<SnapshotChange> Compare(const ParameterSnapshot& file,
                                               const ParameterSnapshot& now,
                                               const WritablePredicate& writable);
    //! Only the changes that can be written and that the file holds a value for.
    static std::vector<SnapshotChange> Writable(const std::vector<SnapshotChange>& changes);
    //! One line per change: "Name: device text -> file text" with a mark for read-only ones.
    static std::string Describe(const SnapshotChange& change);
};
