#pragma once
// CliReporter: the Reporter of one sensor's operations in devicebench-cli. It keeps what the
// operations said (log lines, the error and success texts) for the verb to turn into its own
// output, echoes the log lines to a stream in verbose mode, and ends the link when an
// operation says the sensor dropped it (restart, reset). Any thread.

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"

class CliReporter : public Reporter {
public:
    //! `echo` receives every log line as "[TYPE] text" when not null; it must outlive this.
    explicit CliReporter(std::ostream* echo = nullptr) : echo_(echo) {}

    void Log(const std::string& text, const std::string& type) override;
    void Error(const std::string& text) override;
    void Success(const std::string& text) override;
    void Notify(ManagerEvent event, const std::string& subject = std::string()) override;

    //! Runs `on_end` when an operation announces kLinkEnded.
    void OnLinkEnded(std::function<void()> on_end);

    std::string LastError() const;
    //! Number of non-empty error texts so far (an operation failed when it grew).
    int ErrorCount() const;
    std::string LastSuccess() const;
    //! Log lines of `type` so far, oldest first.
    std::vector<std::string> Lines(const std::string& type) const;
    bool LinkEnded() const;
    //! Whether the last operation-log download ended well; empty before one ended.
    std::string OperationLogOutcome() const;
    bool LogDownloadEnded() const;

private:
    std::ostream* echo_;
    mutable std::mutex mutex_;  // guards everything below and writes to echo_
    std::vector<std::pair<std::string, std::string>> lines_;
    std::string error_;
    int error_count_ = 0;
    std::string success_;
    std::string operation_log_;
    bool link_ended_ = false;
    bool log_download_ended_ = false;
    std::function<void()> on_end_;
};
