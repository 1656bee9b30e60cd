#include "DeviceBenchCore/snapshot/snapshot_operation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/range_check.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

using krell::lidar::kCmdGetFov;
constexpr const char* kRawType = "raw";
constexpr int32_t kUnplacedType = 6;
constexpr size_t kFloatBytes = 4;
constexpr const char* kAddressCommand = "0x21";  // the sensor's own IP, mask and gateway

//! Passes everything on and keeps the names the range checks announce.
class RangeNotes : public Reporter {
public:
    explicit RangeNotes(Reporter& inner) : inner_(inner) {}
    void Log(const std::string& text, const std::string& type) override { inner_.Log(text, type); }
    void Error(const std::string& text) override { inner_.Error(text); }
    void Success(const std::string& text) override { inner_.Success(text); }
    void Notify(ManagerEvent event, const std::string& subject) override {
        if (event == ManagerEvent::kVarOutOfRange) names.push_back(subject);
        inner_.Notify(event, subject);
    }
    std::vector<std::string> names;

private:
    Reporter& inner_;
};

bool ReadsFov(const VarInfo& var) {
    CmxCommand command;
    return CmxCommand::FromText(var.get_cmd, command) && command.code == kCmdGetFov;
}

std::vector<uint8_t> FovBytes(uint8_t mode, const krell::lidar::FovTable& table) {
    std::vector<uint8_t> bytes{mode};
    for (float degrees : table) {
        uint32_t bits = 0;
        std::memcpy(&bits, &degrees, kFloatBytes);
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(bits >> shift));
    }
    return bytes;
}

bool FovTableOf(const std::vector<uint8_t>& bytes, krell::lidar::FovTable& table) {
    if (bytes.size() != 1 + table.size() * kFloatBytes) return false;
    for (size_t i = 0; i < table.size(); ++i) {
        uint32_t bits = 0;
        for (size_t b = 0; b < kFloatBytes; ++b)
            bits = (bits << 8) | bytes[1 + i * kFloatBytes + b];
        std::memcpy(&table[i], &bits, kFloatBytes);
    }
    return true;
}

}  // namespace

SnapshotOperation::SnapshotOperation(DeviceSession& session, Reporter& reporter)
    : session_(session),
      reporter_(reporter),
      reader_(session, reporter),
      writer_(session, reporter) {}

bool SnapshotOperation::Snapshotted(const VarInfo& var) {
    // A raw row without a length is a log download, not a parameter.
    return !var.get_cmd.empty() && !(var.var_type == kRawType && var.offset == 0);
}

bool SnapshotOperation::Writable(const VarInfo& var) {
    return !var.set_cmd.empty() && var.permission != 0 && var.var_type != kRawType &&
           var.type != kUnplacedType && !var.positions.empty();
}

std::vector<VarInfo*> SnapshotOperation::SnapshotVars() const {
    std::vector<VarInfo*> vars;
    session_.table.ReadPages([&vars](const ConfigParser* table) {
        if (table == nullptr) return;
        for (VarInfo* var : table->all_vars()) {
            if (Snapshotted(*var)) vars.push_back(var);
        }
    });
    return vars;
}

RawBytesMap SnapshotOperation::Read(const std::vector<VarInfo*>& vars,
                                    std::vector<std::string>& unread) {
    GetGroups groups;
    for (VarInfo* var : vars) {
        std::vector<VarInfo*>& group = groups[var->get_cmd + var->get_cmd_payload];
        if (std::find(group.begin(), group.end(), var) == group.end()) group.push_back(var);
    }
    RawBytesMap raw;
    for (const auto& entry : groups) {
        bool read = false;
        try {
            const auto turn = session_.link.HoldExchange();
            read = reader_.ReadGroup(entry.second, &raw, true);
        } catch (const OperationError& e) {
            reporter_.Log(std::string("Reading ") + entry.first + " failed: " + e.what(), "ERROR");
        }
        for (VarInfo* var : entry.second) {
            if (ReadsFov(*var) && read) {
                const int mode = std::atoi(session_.table.CurrentValue(*var).c_str());
                raw[var] = FovBytes(static_cast<uint8_t>(mode), session_.table.Fov());
            } else if (!raw.count(var)) {
                unread.push_back(var->var_name);
            }
        }
    }
    return raw;
}

SnapshotEntry SnapshotOperation::EntryOf(VarInfo& var, const RawBytesMap& bytes) const {
    SnapshotEntry entry;
    entry.var_id = var.var_id;
    entry.name = var.var_name;
    entry.text = session_.table.CurrentValue(var);
    entry.bytes = bytes.at(&var);
    return entry;
}

ParameterSnapshot SnapshotOperation::Take(std::vector<std::string>& unread) {
    const std::vector<VarInfo*> vars = SnapshotVars();
    const RawBytesMap raw = Read(vars, unread);
    ParameterSnapshot snapshot;
    snapshot.model = session_.table.Model();
    snapshot.taken_at = ParameterSnapshot::NowUtc();
    for (VarInfo* var : vars) {
        if (raw.count(var)) snapshot.entries.push_back(EntryOf(*var, raw));
    }
    if (const SnapshotEntry* pn = snapshot.FindByName("PN")) snapshot.pn = pn->text;
    if (const SnapshotEntry* sn = snapshot.FindByName("SN")) snapshot.sn = sn->text;
    return snapshot;
}

std::vector<SnapshotChange> SnapshotOperation::Compare(const ParameterSnapshot& file,
                                                       const ParameterSnapshot& now) const {
    const ActiveTable& table = session_.table;
    return SnapshotDiff::Compare(file, now, [&table](const std::string& var_id) {
        const VarInfo* var = table.FindVar(var_id, "id");
        return var != nullptr && Writable(*var);
    });
}

std::vector<SnapshotChange> SnapshotOperation::Writes(const std::vector<SnapshotChange>& changes,
                                                      bool with_address,
                                                      std::vector<std::string>& kept) const {
    std::vector<SnapshotChange> writes;
    for (const SnapshotChange& change : SnapshotDiff::Writable(changes)) {
        const VarInfo* var = session_.table.FindVar(change.var_id, "id");
        if (!with_address && var && var->set_cmd == kAddressCommand) {
            kept.push_back(change.name);
        } else {
            writes.push_back(change);
        }
    }
    return writes;
}

std::vector<std::string> SnapshotOperation::Stage(const std::vector<SnapshotChange>& changes) {
    Discard();
    std::set<int32_t> pages;
    for (const SnapshotChange& change : SnapshotDiff::Writable(changes)) {
        VarInfo* var = session_.table.FindVar(change.var_id, "id");
        if (var == nullptr) continue;
        if (ReadsFov(*var)) {
            krell::lidar::FovTable fov{};
            if (FovTableOf(change.file_bytes, fov)) session_.table.SetFov(fov);
        } else {
            exact_[var] = change.file_bytes;
        }
        session_.table.SetCurrentValue(*var, change.file_text);
        session_.edits.RecordEdit(*var);
        for (const auto& position : var->positions)
            pages.insert(position.first.first);
    }
    RangeNotes notes(reporter_);
    RangeCheck check(session_, notes);
    for (int32_t page : pages)
        check.PageWithinRange(page);
    return notes.names;
}

ApplyReport SnapshotOperation::Apply(const std::vector<SnapshotChange>& changes) {
    std::vector<std::string> commands;
    for (const SnapshotChange& change : SnapshotDiff::Writable(changes)) {
        const VarInfo* var = session_.table.FindVar(change.var_id, "id");
        if (var && std::find(commands.begin(), commands.end(), var->set_cmd) == commands.end())
            commands.push_back(var->set_cmd);
    }
    ApplyReport report;
    std::vector<std::string> handled;  // written, or the one that failed
    const int pages = static_cast<int>(session_.table.PageCount());
    for (int page = 0; page < pages && report.reason.empty(); ++page) {
        try {
            writer_.Run(page, exact_);
        } catch (const WriteError& e) {
            report.failed = e.command.empty() ? std::string() : CommandLine(e.command, changes);
            report.reason = e.what();
            if (!e.command.empty()) handled.push_back(e.command);
        }
        for (const std::string& command : writer_.Written()) {
            report.written.push_back(CommandLine(command, changes));
            handled.push_back(command);
        }
    }
    for (const std::string& command : commands) {
        if (std::find(handled.begin(), handled.end(), command) == handled.end())
            report.not_sent.push_back(CommandLine(command, changes));
    }
    Discard();
    return report;
}

void SnapshotOperation::Discard() {
    session_.edits.Clear();
    exact_.clear();
}

std::string SnapshotOperation::CommandLine(const std::string& command,
                                           const std::vector<SnapshotChange>& changes) const {
    std::string names;
    for (const SnapshotChange& change : SnapshotDiff::Writable(changes)) {
        const VarInfo* var = session_.table.FindVar(change.var_id, "id");
        if (var == nullptr || var->set_cmd != command) continue;
        names += (names.empty() ? "" : ", ") + change.name;
    }
    return "[" + command + "] " + names;
}
