#pragma once
// SnapshotOperation: takes a parameter snapshot of the connected sensor, compares a snapshot
// with it and writes back what differs. Reading goes through VariableReader (one exchange per
// get command and payload), writing through VariableWriter page by page, so a snapshot is
// applied with the same set-group order, payload rules and per-command report as a Save, and the
// range checks are the Save's page checks.
//
// Threads: the caller's; every exchange holds the link's exchange turn. Results go to the
// caller; table problems and per-command lines go to the reporter.

#include <string>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"
#include "DeviceBenchCore/manager/variable_reader.h"
#include "DeviceBenchCore/manager/variable_writer.h"
#include "DeviceBenchCore/snapshot/parameter_snapshot.h"
#include "DeviceBenchCore/snapshot/snapshot_diff.h"

class DeviceSession;
struct VarInfo;

//! The outcome of writing a snapshot's changes: the set commands written, the one that failed
//! (with the reason) and those never sent. Each command is listed with the changed names it
//! carries ("[0x2d] Return Mode, Max Range").
struct ApplyReport {
    std::vector<std::string> written;
    std::string failed;
    std::string reason;
    std::vector<std::string> not_sent;
    //! Nothing differed that could be written.
    bool Unchanged() const { return written.empty() && reason.empty() && not_sent.empty(); }
    bool Complete() const { return reason.empty() && not_sent.empty(); }
};

class SnapshotOperation {
public:
    //! Both are borrowed and must outlive the operation.
    SnapshotOperation(DeviceSession& session, Reporter& reporter);

    //! Variables a snapshot holds: readable ones that are parameters (not the log downloads).
    static bool Snapshotted(const VarInfo& var);
    //! Variables a save can write: editable ones with a set command, on a page.
    static bool Writable(const VarInfo& var);

    //! Reads `vars` with one exchange per get group; their texts land in the table. Returns the
    //! bytes read; the names that could not be read go to `unread`.
    RawBytesMap Read(const std::vector<VarInfo*>& vars, std::vector<std::string>& unread);
    //! A snapshot of every variable Snapshotted lets in; `unread` as Read.
    ParameterSnapshot Take(std::vector<std::string>& unread);
    //! What differs between `file` and `now` (both of the current table's model).
    std::vector<SnapshotChange> Compare(const ParameterSnapshot& file,
                                        const ParameterSnapshot& now) const;
    //! The changes a write should carry: the writable ones the file has a value for, without
    //! the sensor's own address (its names go to `kept`) unless `with_address`, since one
    //! snapshot written to many sensors must not give them all the same address.
    std::vector<SnapshotChange> Writes(const std::vector<SnapshotChange>& changes,
                                       bool with_address, std::vector<std::string>& kept) const;
    //! Stages `changes` (their file texts and bytes) as edits and runs the Save's page range
    //! checks; the names that fail. The staged edits stay for Apply (or Discard).
    std::vector<std::string> Stage(const std::vector<SnapshotChange>& changes);
    //! Writes the staged edits page by page, stopping at the first failing command; the edits
    //! are gone afterwards whatever happened.
    ApplyReport Apply(const std::vector<SnapshotChange>& changes);
    //! Forgets staged edits without writing.
    void Discard();

private:
    std::vector<VarInfo*> SnapshotVars() const;
    SnapshotEntry EntryOf(VarInfo& var, const RawBytesMap& bytes) const;
    std::string CommandLine(const std::string& command,
                            const std::vector<SnapshotChange>& changes) const;

    DeviceSession& session_;
    Reporter& reporter_;
    VariableReader reader_;
    VariableWriter writer_;
    RawBytesMap exact_;  // staged device bytes of the changed variables
};
