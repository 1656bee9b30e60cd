#pragma once
// MaintenanceOperation: restart, factory reset, the operation-log archive, single log downloads
// and the configuration-file request. Each finds its command through a table row of a
// fixed name (or the log's own name), so a model without the row cannot do the operation.
//
// Threads: Restart and Reset run on the caller's (UI) thread. The downloads and the
// configuration-file request run on worker threads owned here and joined by the destructor; the
// session's `downloading` flag (IsDownloadLog) keeps downloads, restart and reset from
// overlapping, and nothing starts while `upgrading` (IsUpgrading) is set.
//
// Safety rules: a failed download leaves no file under the chosen name and no archive half
// written over an older one; the operation-log parts that did arrive stay in the staging folder
// (the error says where), since they may be all the user can get of the log. A single-log name
// that is empty or holds a path separator is refused; the direct DownloadOperationLog refuses
// while another download or an upgrade runs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;

class MaintenanceOperation {
public:
    //! Bound of the archiver run (start and finish each).
    static constexpr int kTarTimeoutMs = 30000;
    //! The external archiver, found on the search path.
    static constexpr const char* kArchiver = "tar";
    //! Folder below the documents location where the four logs wait for the archiver.
    static constexpr const char* kStagingFolder = "/operation_log";
    //! File-name prefixes of the four operation-log parts, in request order (selectors 00 00,
    //! 00 01, 01 00, 01 01).
    static const char* const kOperationLogPrefixes[4];

    //! Both are borrowed and must outlive the operation. Restart and Reset end the link through
    //! the reporter (kLinkEnded); the downloads announce their flag and their end there too.
    MaintenanceOperation(DeviceSession& session, Reporter& reporter);
    //! Joins the worker threads (each ends within its query time-outs and the archiver bound).
    ~MaintenanceOperation();
    MaintenanceOperation(const MaintenanceOperation&) = delete;
    MaintenanceOperation& operator=(const MaintenanceOperation&) = delete;

    //! 0 when the sensor accepted the restart (the connection is then ended); -1 otherwise.
    int Restart();
    //! The query result (the connection is ended either way); -1 when nothing was sent.
    int Reset();
    //! Starts the operation-log download into the archive `archive_path` on a worker thread.
    //! 0 when started; -1 (no message) when not connected, busy or an upgrade runs.
    int StartOperationLog(const std::string& archive_path);
    //! The operation-log download itself on the calling thread; 0 on success, -1 on failure or
    //! (no message) when another download or an upgrade runs.
    int DownloadOperationLog(const std::string& archive_path);
    //! Starts the download of the log row `name` into `folder` on a worker thread. 0 when
    //! started; -1 when refused (silently for the shared precondition, with a message for a name
    //! that would leave the folder).
    int StartLog(const std::string& folder, const std::string& name);
    //! The single-log download on the calling thread; 0 when the whole reply was written.
    int DownloadLog(const std::string& folder, const std::string& name);
    //! Sends the configuration-file request (0x74) on a worker thread and returns at once.
    void StartGetConfigFile();

    //! `path` with ".tar" appended unless it already ends so.
    static std::string ArchivePath(const std::string& path);
    //! Local time as strftime `format` (the stamps of the downloaded file names).
    static std::string TimeStamp(const char* format);

private:
    //! Shared precondition of restart, reset and the downloads.
    bool Ready() const;
    //! The request of the first row named one of `names` (get cell first), a missing row or
    //! command thrown as OperationError naming `label`.
    MaintenanceRequest RequireRequest(const std::vector<std::string>& names,
                                      const std::string& label) const;
    int RunOperationLog(const std::string& archive_path);
    //! Fetches the four logs into `staging` (`fetched` counts the parts written whole) and packs
    //! them into `archive`; throws OperationError.
    void FetchAndPack(const std::string& archive, const std::string& staging, size_t& fetched);
    //! False, with one log line naming `invokable`, for an empty archive path.
    bool ArchivePathGiven(const std::string& archive_path, const char* invokable);
    //! Runs the archiver into a hidden file beside `archive` and moves it into place only when
    //! it is complete; throws OperationError.
    void Pack(const std::string& archive, const std::string& staging,
              const std::vector<std::string>& files);
    //! False (reported) for a log name that could lead out of the chosen folder.
    bool SafeLogName(const std::string& name);
    int RunLog(const std::string& folder, const std::string& name);
    //! Writes `bytes` to `path` through a temporary file; empty on success, else the message.
    std::string WriteLogFile(const std::string& path, const std::string& name,
                             const std::vector<uint8_t>& bytes);
    //! Sets the downloading flag (announcing a change); false when it was already set.
    bool ClaimDownload();
    void ReleaseDownload();
    //! Runs `work` on a new worker thread; finished earlier workers are joined first, so a
    //! worker still running never blocks the caller.
    void Launch(std::function<void()> work);

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    DeviceSession& session_;
    Reporter& reporter_;
    std::mutex workers_mutex_;  // guards workers_
    std::list<Worker> workers_;
};
