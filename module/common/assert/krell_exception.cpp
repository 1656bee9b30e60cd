#include "module/common/assert/krell_exception.h"

namespace krell::det {

namespace {

const char* prefixOf(int32_t kind) {
    switch (kind) {
        case KrellException::MallocError:
            return "[EXCEPTION] Failed to malloc memory, ";
        case KrellException::FreeError:
            return "[EXCEPTION] Failed to free memory, ";
        case KrellException::AssertError:
            return "[EXCEPTION] Failed to satisfy the assert, ";
        case KrellException::NullPointer:
            return "[EXCEPTION] Null Pointer error, ";
        case KrellException::OpenFileError:
            return "[EXCEPTION] Failed to open file, ";
        case KrellException::NotImplemented:
            return "[EXCEPTION] Not implemented, ";
        default:
            return nullptr;
    }
}

}  // namespace

KrellException::KrellException(int32_t kind, const std::string& detail) : kind_(kind) {
    const char* prefix = prefixOf(kind);
    if (prefix != nullptr) {
        message_ = prefix + detail;
    }
}

}  // namespace krell::det
