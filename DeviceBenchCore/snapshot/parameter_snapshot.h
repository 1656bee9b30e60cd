#pragma once
// ParameterSnapshot: every readable parameter of one sensor at one moment, with the text the
// pages show and the exact bytes the sensor sent, plus the model and the sensor's PN and SN. The
// field-of-view variable's bytes are its mode byte followed by the ten table entries as
// big-endian IEEE singles, since a save writes the mode and the table together. Saved as a JSON
// file so that a known-good configuration can be compared with a sensor later and written back,
// to the same sensor or to others of its model.
//
// A plain value; not shared between threads. Loading never half-succeeds: a file that does not
// parse, or holds an entry without a name or with bytes that are not hexadecimal, is refused
// whole with a message that says what is wrong, so nothing is ever written from a broken file.

#include <cstdint>
#include <string>
#include <vector>

//! One parameter as read: its table id and name, its shown text and its device bytes.
struct SnapshotEntry {
    std::string var_id;
    std::string name;
    std::string text;
    std::vector<uint8_t> bytes;
};

class ParameterSnapshot {
public:
    //! Format marker written into every file; a file without it is not a snapshot.
    static constexpr const char* kFormat = "devicebench-parameter-snapshot";
    static constexpr int kFormatVersion = 1;

    std::string model;
    std::string pn;
    std::string sn;
    std::string taken_at;  // UTC, ISO 8601 ("2026-12-08T06:50:00Z")
    std::vector<SnapshotEntry> entries;

    //! The entry with table id `var_id`, or null.
    const SnapshotEntry* Find(const std::string& var_id) const;
    //! The entry named `name` (the first one), or null.
    const SnapshotEntry* FindByName(const std::string& name) const;

    //! The JSON text of the snapshot (indented, stable key order).
    std::string ToJson() const;
    //! Parses `text`; false with `error` (one sentence naming the problem) when it is not a
    //! complete snapshot of a known format version.
    static bool FromJson(const std::string& text, ParameterSnapshot& out, std::string& error);

    //! Writes the file through a temporary beside it, so an old snapshot is replaced only by a
    //! complete new one. False with `error` naming the path.
    bool Save(const std::string& path, std::string& error) const;
    //! Reads and parses the file at `path`; false with `error` naming the path.
    static bool Load(const std::string& path, ParameterSnapshot& out, std::string& error);

    //! The current time in the form of `taken_at`.
    static std::string NowUtc();
};

//! Bytes as lower-case hexadecimal digits without separators ("c0a801c9").
std::string SnapshotHex(const std::vector<uint8_t>& bytes);
//! The reverse of SnapshotHex; false for an odd length or a character that is not hexadecimal.
bool SnapshotBytes(const std::string& hex, std::vector<uint8_t>& bytes);
