// Host-side assertion of the inference framework.
#pragma once

#include <cstdint>

#include "module/common/assert/krell_exception.h"

namespace krell::det {

//! Does nothing when code is 0. Otherwise logs "CPUassert: <file>:<line>" at level 1 and then
//! throws KrellException(kind) with that text as detail, or, when exitInsteadOfThrow is set,
//! ends the process with exit status code. Any thread.
void CPUAssert(int32_t code, int32_t kind, const char* file, int32_t line, bool exitInsteadOfThrow);

}  // namespace krell::det
