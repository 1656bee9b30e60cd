#include "app/denoise/src/engine_build_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

EngineBuildLock::EngineBuildLock(const std::string& enginePath) : path_(lockPathFor(enginePath)) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    if (lockFile(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        if (busy) {
            std::fprintf(stderr, "waiting for another process building the engine (lock %s)\n",
                         path_.c_str());
        }
        if (!busy || lockFile(fd, LOCK_EX) != 0) {
            error_ = errno;
            ::close(fd);
            return;
        }
    }
    fd_ = fd;
}

EngineBuildLock::~EngineBuildLock() {
    if (fd_ >= 0) {
        // Closing the descriptor drops the lock.
        ::close(fd_);
    }
}

}  // namespace krell
