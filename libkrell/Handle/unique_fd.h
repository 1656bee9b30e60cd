#pragma once
// UniqueFd: sole owner of one POSIX file descriptor (socket, tty, pty end, pipe end).
//
// The destructor closes it, so no error path closes by hand. Move-only; -1 means "none".
// Not thread-safe: one owner thread, or the owner's own lock, guards each instance.

#include <unistd.h>

#include <utility>

namespace krell {

class UniqueFd {
public:
    UniqueFd() = default;
    //! Takes ownership of `fd` (-1 for none).
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    //! The descriptor, still owned here, or -1.
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    //! Gives the descriptor up without closing it; the caller owns it afterwards.
    int release() { return std::exchange(fd_, -1); }

    //! Closes the current descriptor (if any) and takes `fd`.
    void reset(int fd = -1) {
        const int old = std::exchange(fd_, fd);
        if (old >= 0) ::close(old);
    }

private:
    int fd_ = -1;
};

}  // namespace krell
