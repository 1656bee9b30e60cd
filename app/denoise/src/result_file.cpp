#include "app/denoise/src/result_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace krell::frame {
namespace {

// Writes all of data to fd, resuming after short writes; errno of the failure otherwise.
int writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

WriteOutcome failedWrite(const std::string& partial, int error) {
    ::unlink(partial.c_str());
    return {WriteStage::kWrite, error};
}

}  // namespace

WriteOutcome writeFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
    const std::string partial = path + ".part";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return {WriteStage::kOpen, errno};
    }
    const int writeError = writeAll(fd, data, size);
    // close() can be the first to report a failed write-back (for instance on network shares).
    const int closeError = ::close(fd) != 0 ? errno : 0;
    if (writeError != 0 || closeError != 0) {
        return failedWrite(partial, writeError != 0 ? writeError : closeError);
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        return failedWrite(partial, errno);
    }
    return {};
}

}  // namespace krell::frame
