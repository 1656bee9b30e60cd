#include "scribe/logger.h"

#include <spdlog/async_logger.h>
#include <spdlog/details/thread_pool.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "scribe/console_sink.h"

namespace {

constexpr size_t kQueueLines = 16384;
constexpr size_t kRotatingFileBytes = 8 * 1024 * 1024;
constexpr size_t kRotatingFiles = 3;
constexpr size_t kStackFormatBytes = 512;
// Longest Flush() waits: a writer stuck on a console nobody reads must not hold up the exit.
constexpr int kFlushWaitMs = 1000;

// Last sink of the logger: counts the lines the writer thread has handed to every other sink, and
// flushes those sinks after an error line, while a Flush() waits and whenever the queue has run
// empty. Flush() waits on
// that count; no flush request travels through the queue, where an overflow could drop it.
class BarrierSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    BarrierSink(std::vector<spdlog::sink_ptr> targets, spdlog::details::thread_pool* pool)
        : targets_(std::move(targets)), pool_(pool) {}

    //! Waits until `done()` holds or `timeout` passes; true when it holds. Any thread.
    template <typename Done>
    bool WaitUntil(std::chrono::milliseconds timeout, Done done) {
        waiters_.fetch_add(1);
        std::unique_lock<std::mutex> lock(count_mutex_);
        const bool held = count_cv_.wait_for(lock, timeout, [&] { return done(written_); });
        waiters_.fetch_sub(1);
        return held;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        if (msg.level >= spdlog::level::err || waiters_.load() > 0 || pool_->queue_size() == 0) {
            FlushTargets();
        }
        std::lock_guard<std::mutex> lock(count_mutex_);
        ++written_;
        count_cv_.notify_all();
    }
    void flush_() override { FlushTargets(); }

private:
    void FlushTargets() {
        for (const auto& target : targets_)
            target->flush();
    }

    const std::vector<spdlog::sink_ptr> targets_;
    spdlog::details::thread_pool* const pool_;  // owned by Logger::Impl, which outlives this sink
    std::mutex count_mutex_;                    // guards written_
    std::condition_variable count_cv_;
    uint64_t written_ = 0;
    std::atomic<int> waiters_{0};  // Flush() calls waiting: every line is flushed while they wait
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
    // Nothing is reported here: the console may be the very stream that is stuck.
    Logger::GetInstance().Flush();
}

}  // namespace

struct Logger::Impl {
    std::shared_ptr<spdlog::details::thread_pool> pool;
    std::shared_ptr<BarrierSink> barrier;
    std::shared_ptr<spdlog::async_logger> logger;
    // Lines handed to the queue; counted before each hand-over so that Flush() never waits for
    // fewer lines than were queued before it.
    std::atomic<uint64_t> queued{0};
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
        sinks.push_back(std::make_shared<scribe_detail::ConsoleSink>());
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
    impl_->barrier = std::make_shared<BarrierSink>(sinks, impl_->pool.get());
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
    impl_->queued.fetch_add(1);
    impl_->logger->log(spd_level, "{}:{} {} | {}", BaseName(file), line, function ? function : "?",
                       message);
}

uint64_t Logger::Flush() {
    const uint64_t target = impl_->queued.load();
    uint64_t settled = 0;
    // A line is settled once written or dropped by the full queue (the queue holds lines only).
    impl_->barrier->WaitUntil(std::chrono::milliseconds(kFlushWaitMs), [&](uint64_t written) {
        settled = written + impl_->pool->overrun_counter();
        return settled >= target;
    });
    return settled >= target ? 0 : target - settled;
}
