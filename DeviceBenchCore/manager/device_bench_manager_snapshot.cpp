// DeviceBenchManager: parameter snapshots, exported to a file and imported with the differences
// shown before anything is written.
#include <algorithm>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/snapshot/snapshot_operation.h"

namespace {

constexpr const char* kSnapshotWritten =
    "Snapshot written to the lidar\nNote that if you have changed the TCP-related settings, you "
    "will need to restart the lidar for it to work.";
constexpr int kRangeRefused = -2;

std::string LocalPath(const QUrl& url) {
    return (url.isLocalFile() ? url.toLocalFile() : url.toString()).toStdString();
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string PartialText(const ApplyReport& report) {
    std::string text = "Snapshot not written completely.";
    if (!report.written.empty()) text += " Written: " + Joined(report.written, "; ") + ".";
    if (!report.reason.empty()) {
        text +=
            " Failed: " + (report.failed.empty() ? std::string("before sending") : report.failed) +
            " (" + report.reason + ").";
    }
    if (!report.not_sent.empty()) text += " Not sent: " + Joined(report.not_sent, "; ") + ".";
    return text;
}

}  // namespace

int DeviceBenchManager::ExportSnapshot(const QUrl& fileUrl) {
    const std::string path = LocalPath(fileUrl);
    if (path.empty()) {
        Refuse("ExportSnapshot", "no file was given");
        return -1;
    }
    if (!CheckWritePreconditions()) return -1;
    if (session_->link.kind.load() != Link::kKindTcp) {
        Error("Snapshots are read through the model's table pages, which this model has not.");
        return -1;
    }
    std::vector<std::string> unread;
    const ParameterSnapshot snapshot = snapshots_->Take(unread);
    std::string error;
    if (!snapshot.Save(path, error)) {
        Error(error);
        return -1;
    }
    std::string text =
        "Snapshot of " + std::to_string(snapshot.entries.size()) + " variables saved to " + path;
    if (!unread.empty()) {
        text += " (not read: " + Joined(unread, ", ") + ")";
        Log(text, "WARNING");
    }
    Success(text);
    return 0;
}

QVariantList DeviceBenchManager::LoadSnapshotDiff(const QUrl& fileUrl) {
    snapshot_writes_.clear();
    const std::string path = LocalPath(fileUrl);
    ParameterSnapshot file;
    std::string error;
    if (!ParameterSnapshot::Load(path, file, error)) {
        Error(error + ". Nothing was sent to the lidar.");
        return {};
    }
    const std::string model = session_->table.Model();
    if (file.model != model) {
        Error(path + " is a snapshot of a " + file.model + ", not of a " + model +
              ". Nothing was sent to the lidar.");
        return {};
    }
    if (!CheckWritePreconditions()) return {};
    std::vector<std::string> unread;
    const ParameterSnapshot now = snapshots_->Take(unread);
    const std::vector<SnapshotChange> changes = snapshots_->Compare(file, now);
    std::vector<std::string> kept;
    snapshot_writes_ = snapshots_->Writes(changes, false, kept);
    if (changes.empty()) Success("No differences: the lidar holds the values of " + path);
    QVariantList list;
    for (const SnapshotChange& change : changes) {
        const bool keep = std::find(kept.begin(), kept.end(), change.name) != kept.end();
        list << QVariantMap{{"name", QString::fromStdString(change.name)},
                            {"device", QString::fromStdString(change.device_text)},
                            {"file", QString::fromStdString(change.file_text)},
                            {"writable", change.writable && change.in_file && !keep},
                            {"kept", keep}};
    }
    emit myMapChanged();
    return list;
}

int DeviceBenchManager::WriteSnapshot(bool force) {
    if (snapshot_writes_.empty()) {
        Error("There are no snapshot values to write.");
        return -1;
    }
    if (!CheckWritePreconditions()) return -1;
    const std::vector<std::string> outside = snapshots_->Stage(snapshot_writes_);
    if (!outside.empty() && !force) {
        snapshots_->Discard();
        return kRangeRefused;
    }
    const ApplyReport report = snapshots_->Apply(snapshot_writes_);
    snapshot_writes_.clear();
    if (!report.Complete()) {
        Error(PartialText(report));
        return -1;
    }
    Success(kSnapshotWritten);
    Stop();
    return 0;
}
