#pragma once
// scribe: the process-wide log sink of DeviceBench and Lumora-Core.
//
// Callers hand over the raw printf-style format and its arguments; the line is formatted on the
// caller's thread and queued to an asynchronous writer (console and a rotating file). A call never
// waits for the line to be written: when the queue is full the oldest queued line is dropped, and
// a console that takes no bytes for a while loses its copy of the line (the file keeps it).
//
// Environment:
//   SCRIBE_LEVEL    lowest level written: debug, info, warning or error (default: info)
//   SCRIBE_CONSOLE  0 turns the console (standard error) off
//   SCRIBE_LOG_FILE path of the rotating log file (default: $HOME/.local/state/krell/scribe.log;
//                   "" or an unwritable path writes no file)

#include <cstdint>
#include <memory>

#if defined(_WIN32)
#define SCRIBE_API __declspec(dllexport)
#else
#define SCRIBE_API __attribute__((visibility("default")))
#endif

//! Log levels; each value is a single bit.
enum LOGLEVEL : uint32_t {
    LOG_DEBUG = 1,
    LOG_INFO = 2,
    LOG_WARNING = 4,
    LOG_ERROR = 8,
};

class SCRIBE_API Logger {
public:
    //! The one instance; created on first use, safe to call from any thread.
    static Logger& GetInstance();

    //! Formats one line and queues it. Thread-safe; returns without waiting for the write.
    //! `file`, `function` and `format` may be null (written as "?").
    void AddToQueue(LOGLEVEL level, const char* file, int32_t line, const char* function,
                    const char* format, ...) __attribute__((format(printf, 6, 7)));

    //! Waits until every line queued so far is written (or was dropped by a full queue) and the
    //! sinks are flushed, for at most about one second. Returns 0, or the number of lines it gave up
    //! waiting for (a stuck console). Any thread; for tests and orderly shutdown.
    uint64_t Flush();

    //! True when a line of `level` would be written.
    bool IsEnabled(LOGLEVEL level) const;

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();
    ~Logger();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The macros pass the caller's file, line and full function signature.
#define SCRIBE_LOG(level, ...)                                                           \
    ::Logger::GetInstance().AddToQueue((level), __FILE__, __LINE__, __PRETTY_FUNCTION__, \
                                       __VA_ARGS__)
#define SLOG_DEBUG(...) SCRIBE_LOG(LOG_DEBUG, __VA_ARGS__)
#define SLOG_INFO(...) SCRIBE_LOG(LOG_INFO, __VA_ARGS__)
#define SLOG_WARNING(...) SCRIBE_LOG(LOG_WARNING, __VA_ARGS__)
#define SLOG_ERROR(...) SCRIBE_LOG(LOG_ERROR, __VA_ARGS__)
