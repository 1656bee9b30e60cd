// A plain-loop computation of the demo network, the yardstick the built engine is checked
// against.
#pragma once

#include <cstdint>

namespace krell::demo {

//! From the quantised planes and the state (both int8, 64 x 2560), writes the result bytes
//! and the next state exactly as the demo network computes them (zero padding at the borders).
void referenceDenoise(const int8_t* planes, const int8_t* state, int8_t* result, int8_t* nextState);

}  // namespace krell::demo
