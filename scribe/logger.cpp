#include "scribe/logger.h"

#include <spdlog/async_logger.h>
#include <spdlog/details/thread_pool.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr size_t kQueueLines = 16384;
constexpr size_t kRotatingFileBytes = 8 * 1024 * 1024;
constexpr size_t kRotatingFiles = 3;
constexpr size_t kStackFormatBytes = 512;

// Last sink of the logger: the writer thread calls its flush after every other sink has flushed,
// which lets Flush() wait for exactly the lines queued before it.
class FlushBarrierSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    void WaitFor(uint64_t ticket) {
        std::unique_lock<std::mutex> lock(barrier_mutex_);
        barrier_cv_.wait(lock, [&] { return flushed_ >= ticket; });
    }
    uint64_t NextTicket() {
        std::lock_guard<std::mutex> lock(barrier_mutex_);
        return ++issued_;
    }

protected:
    void sink_it_(const spdlog::details::log_msg&) override {}
    void flush_() override {
        std::lock_guard<std::mutex> lock(barrier_mutex_);
        ++flushed_;
        barrier_cv_.notify_all();
    }

private:
    std::mutex barrier_mutex_;  // guards issued_ and flushed_
    std::condition_variable barrier_cv_;
    uint64_t issued_ = 0;
    uint64_t flushed_ = 0;
};

spdlog::level::level_enum ToSpdlogLevel(LOGLEVEL level) {
    switch (level) {
        case LOG_DEBUG:
            return spdlog::level::debug;
        case LOG_INFO:
            return spdlog::level::info;
        case LOG_WARNING:
            return spdlog::level::warn;
        case LOG_ERROR:
            return spdlog::level::err;
    }
    return spdlog::level::info;
}

spdlog::level::level_enum LevelFromEnvironment() {
    const char* text = std::getenv("SCRIBE_LEVEL");
    if (text == nullptr) return spdlog::level::info;
    const std::string value(text);
    if (value == "debug" || value == "1") return spdlog::level::debug;
    if (value == "info" || value == "2") return spdlog::level::info;
    if (value == "warning" || value == "4") return spdlog::level::warn;
    if (value == "error" || value == "8") return spdlog::level::err;
    if (value == "off") return spdlog::level::off;
    return spdlog::level::info;
}

std::string DefaultLogFilePath() {
    if (const char* path = std::getenv("SCRIBE_LOG_FILE")) return path;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return {};
    return std::string(home) + "/.local/state/krell/scribe.log";
}

const char* BaseName(const char* path) {
    if (path == nullptr) return "?";
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::string FormatMessage(const char* format, va_list args) {
    if (format == nullptr) return "?";
    char stack_buffer[kStackFormatBytes];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(stack_buffer, sizeof stack_buffer, format, copy);
    va_end(copy);
    if (needed < 0) return format;
    if (static_cast<size_t>(needed) < sizeof stack_buffer) return std::string(stack_buffer, needed);
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    return text;
}

void FlushAtExit() {
    Logger::GetInstance().Flush();
}

}  // namespace

struct Logger::Impl {
    std::shared_ptr<spdlog::details::thread_pool> pool;
    std::shared_ptr<FlushBarrierSink> barrier;
    std::shared_ptr<spdlog::async_logger> logger;
};

Logger& Logger::GetInstance() {
    // Never destroyed: objects with static storage may still log from their destructors.
    static Logger* instance = [] {
        auto* created = new Logger();
        std::atexit(FlushAtExit);
        return created;
    }();
    return *instance;
}

Logger::Logger() : impl_(std::make_unique<Impl>()) {
    impl_->pool = std::make_shared<spdlog::details::thread_pool>(kQueueLines, 1);
    std::vector<spdlog::sink_ptr> sinks;
    const char* console = std::getenv("SCRIBE_CONSOLE");
    if (console == nullptr || std::strcmp(console, "0") != 0) {
        sinks.push_back(std::make_shared<spdlog::sinks::stderr_sink_mt>());
    }
    const std::string file_path = DefaultLogFilePath();
    if (!file_path.empty()) {
        try {
            sinks.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
                file_path, kRotatingFileBytes, kRotatingFiles));
        } catch (const spdlog::spdlog_ex& error) {
            std::fprintf(stderr, "scribe: cannot open log file %s: %s\n", file_path.c_str(),
                         error.what());
        }
    }
    impl_->barrier = std::make_shared<FlushBarrierSink>();
    sinks.push_back(impl_->barrier);
    impl_->logger =
        std::make_shared<spdlog::async_logger>("scribe", sinks.begin(), sinks.end(), impl_->pool,
                                               spdlog::async_overflow_policy::overrun_oldest);
    impl_->logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] [%t] %v");
    impl_->logger->set_level(LevelFromEnvironment());
}

Logger::~Logger() = default;

bool Logger::IsEnabled(LOGLEVEL level) const {
    return impl_->logger->should_log(ToSpdlogLevel(level));
}

void Logger::AddToQueue(LOGLEVEL level, const char* file, int32_t line, const char* function,
                        const char* format, ...) {
    const auto spd_level = ToSpdlogLevel(level);
    if (!impl_->logger->should_log(spd_level)) return;
    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);
    impl_->logger->log(spd_level, "{}:{} {} | {}", BaseName(file), line, function ? function : "?",
                       message);
    // Error lines reach the disk soon even if the process dies; the flush is queued, not awaited.
    if (level == LOG_ERROR) RequestFlush();
}

uint64_t Logger::RequestFlush() {
    // Every flush takes a ticket before it is queued, so the n-th flush the writer completes was
    // queued after ticket n was issued; Flush() relies on that ordering.
    const uint64_t ticket = impl_->barrier->NextTicket();
    impl_->logger->flush();
    return ticket;
}

void Logger::Flush() {
    impl_->barrier->WaitFor(RequestFlush());
}
