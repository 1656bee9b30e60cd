#include "scribe/console_sink.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace scribe_detail {

void ConsoleSink::sink_it_(const spdlog::details::log_msg& msg) {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    const char* data = formatted.data();
    size_t left = formatted.size();
    while (left > 0) {
        // A pipe or tty that reports room takes at least PIPE_BUF bytes without blocking.
        pollfd entry = {STDERR_FILENO, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, kPieceWaitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
        const ssize_t wrote = ::write(STDERR_FILENO, data, std::min<size_t>(left, PIPE_BUF));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        data += wrote;
        left -= static_cast<size_t>(wrote);
    }
}

}  // namespace scribe_detail
