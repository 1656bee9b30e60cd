#include "tools/devicebench-cli/cli_reporter.h"

void CliReporter::Log(const std::string& text, const std::string& type) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(type, text);
    if (echo_) *echo_ << "[" << type << "] " << text << "\n" << std::flush;
}

void CliReporter::Error(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = text;
    if (!text.empty()) ++error_count_;
    if (echo_ && !text.empty()) *echo_ << "[error] " << text << "\n" << std::flush;
}

void CliReporter::Success(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    success_ = text;
}

void CliReporter::Notify(ManagerEvent event, const std::string& subject) {
    std::function<void()> on_end;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (event == ManagerEvent::kOperationLogFinished)
            operation_log_ = subject.empty() ? "failed" : subject;
        if (event == ManagerEvent::kLogDownloadFinished) log_download_ended_ = true;
        if (event != ManagerEvent::kLinkEnded) return;
        link_ended_ = true;
        on_end = on_end_;
    }
    if (on_end) on_end();
}

void CliReporter::OnLinkEnded(std::function<void()> on_end) {
    std::lock_guard<std::mutex> lock(mutex_);
    on_end_ = std::move(on_end);
}

std::string CliReporter::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

int CliReporter::ErrorCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_count_;
}

std::string CliReporter::LastSuccess() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return success_;
}

std::vector<std::string> CliReporter::Lines(const std::string& type) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const auto& line : lines_) {
        if (line.first == type) lines.push_back(line.second);
    }
    return lines;
}

bool CliReporter::LinkEnded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return link_ended_;
}

std::string CliReporter::OperationLogOutcome() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return operation_log_;
}

bool CliReporter::LogDownloadEnded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_download_ended_;
}
