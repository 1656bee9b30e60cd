// The inference framework's only exception type.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace krell::det {

class KrellException : public std::exception {
public:
    //! What went wrong; each kind has a fixed message prefix.
    enum Kind : int32_t {
        MallocError = 1,
        FreeError = 2,
        AssertError = 3,
        NullPointer = 4,
        OpenFileError = 5,
        NotImplemented = 6,
    };

    //! message becomes the kind's prefix followed by detail; an unknown kind gives an empty
    //! message.
    KrellException(int32_t kind, const std::string& detail);

    //! The composed message; valid as long as the exception lives.
    const char* what() const noexcept override { return message_.c_str(); }
    int32_t kind() const noexcept { return kind_; }

private:
    int32_t kind_;
    std::string message_;
};

}  // namespace krell::det
