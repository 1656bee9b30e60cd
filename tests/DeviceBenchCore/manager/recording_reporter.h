#pragma once
// A Reporter for operations driven without a manager: keeps the error texts and counts the
// events, from any thread.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"

namespace krell {
namespace test {

class RecordingReporter : public Reporter {
public:
    void Log(const std::string&, const std::string&) override {}
    void Error(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.push_back(text);
    }
    void Success(const std::string&) override {}
    void Notify(ManagerEvent event, const std::string&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++events_[event];
    }
    std::vector<std::string> Errors() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }
    int EventCount(ManagerEvent event) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto count = events_.find(event);
        return count == events_.end() ? 0 : count->second;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> errors_;
    std::map<ManagerEvent, int> events_;
};

}  // namespace test
}  // namespace krell
