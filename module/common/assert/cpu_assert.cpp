#include "module/common/assert/cpu_assert.h"

#include <cstdlib>
#include <string>

#include "module/common/log.h"

namespace krell::det {

void CPUAssert(int32_t code, int32_t kind, const char* file, int32_t line,
               bool exitInsteadOfThrow) {
    if (code == 0) {
        return;
    }
    const std::string text =
        "CPUassert: " + std::string(file == nullptr ? "" : file) + ":" + std::to_string(line);
    DET_LOG(kLogError) << text << kLogReset;
    if (!exitInsteadOfThrow) {
        throw KrellException(kind, text);
    }
    std::exit(code);
}

}  // namespace krell::det
