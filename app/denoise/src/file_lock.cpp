#include "app/denoise/src/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace krell {
namespace {

// flock, resumed after signals that interrupt the wait.
int lockFile(int fd, int operation) {
    int result = 0;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

FileLock::FileLock(const std::string& path, Mode mode, const std::function<void()>& onWait)
    : path_(path) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    if (lockFile(fd, LOCK_EX | LOCK_NB) != 0) {
        const int tryError = errno;
        busy_ = tryError == EWOULDBLOCK && mode == Mode::kTry;
        if (tryError == EWOULDBLOCK && mode == Mode::kWait && onWait) {
            onWait();
        }
        if (tryError != EWOULDBLOCK || mode == Mode::kTry || lockFile(fd, LOCK_EX) != 0) {
            error_ = busy_ ? 0 : (tryError != EWOULDBLOCK ? tryError : errno);
            ::close(fd);
            return;
        }
    }
    fd_ = fd;
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        // Closing the descriptor drops the lock.
        ::close(fd_);
    }
}

}  // namespace krell
