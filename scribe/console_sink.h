#pragma once
// ConsoleSink: standard error for the scribe writer thread, written with write(2) on descriptor 2
// rather than through stdio. A console nobody reads then never holds the stdio lock that exit
// needs, and each piece waits at most kPieceWaitMs for room before the rest of the line is dropped,
// so a stuck console cannot stall the log file behind it. Internal to scribe.

#include <spdlog/sinks/base_sink.h>

#include <mutex>

namespace scribe_detail {

class ConsoleSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    static constexpr int kPieceWaitMs = 100;

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override {}
};

}  // namespace scribe_detail
