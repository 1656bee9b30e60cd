// EngineBuildLock: keeps several processes (Slurm array tasks, a second cloud_denoiser started by
// hand) from building one engine file at the same time. The lock is an advisory flock on a lock
// file beside the engine ("<engine>.lock"); the kernel drops it when its holder dies, so a killed
// builder never blocks the next one. The lock file itself is left in place: removing it would let
// a waiter and a newcomer hold locks on two different files.
#pragma once

#include <string>

namespace krell {

class EngineBuildLock {
public:
    //! Takes the lock for enginePath, waiting for another holder when there is one (after one
    //! line on standard error saying so). held() is false when the lock file cannot be created.
    explicit EngineBuildLock(const std::string& enginePath);
    ~EngineBuildLock();
    EngineBuildLock(const EngineBuildLock&) = delete;
    EngineBuildLock& operator=(const EngineBuildLock&) = delete;

    bool held() const { return fd_ >= 0; }
    //! errno of the failed open or lock; 0 when held.
    int error() const { return error_; }
    const std::string& path() const { return path_; }

    //! The lock file of an engine file.
    static std::string lockPathFor(const std::string& enginePath) { return enginePath + ".lock"; }

private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace krell
