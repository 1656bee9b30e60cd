// FileLock: an exclusive advisory lock (flock) on a lock file, held for the object's lifetime.
// It keeps several processes (Slurm array tasks, a second cloud_denoiser started by hand) from
// building one engine file, or running one sequence, at the same time. The kernel drops the lock
// when its holder dies, so a killed holder never blocks the next one. The lock file itself is
// left in place: removing it would let a waiter and a newcomer hold locks on two different files.
#pragma once

#include <functional>
#include <string>

namespace krell {

class FileLock {
public:
    enum class Mode {
        kWait,  //!< wait for another holder to let go
        kTry,   //!< give up at once when another process holds it (busy())
    };

    //! Creates path when missing and takes the lock. In kWait mode, onWait (when set) is called
    //! once before waiting for another holder. held() is false when the file cannot be created
    //! or locked, or (kTry) another process holds it.
    FileLock(const std::string& path, Mode mode, const std::function<void()>& onWait = {});
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    //! True when kTry gave up because another process holds the lock.
    bool busy() const { return busy_; }
    //! errno of the failed open or lock; 0 when held or busy.
    int error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    bool busy_ = false;
};

//! The lock file guarding the build of an engine file.
inline std::string engineLockPath(const std::string& enginePath) {
    return enginePath + ".lock";
}

}  // namespace krell
