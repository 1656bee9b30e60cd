// Spreads the stand-in's own element loops (binding conversions, depth-to-space, concatenation
// copies) over the OpenMP threads that oneDNN already runs on, and marks inner loops for the
// vectoriser (which -O2 alone leaves scalar); plain loops without OpenMP.
#pragma once

#if defined(_OPENMP)
#define TRT_HOST_PARALLEL_FOR _Pragma("omp parallel for schedule(static)")
#define TRT_HOST_PARALLEL_FOR_SIMD _Pragma("omp parallel for simd schedule(static)")
#define TRT_HOST_SIMD _Pragma("omp simd")
#else
#define TRT_HOST_SIMD
#define TRT_HOST_PARALLEL_FOR
#define TRT_HOST_PARALLEL_FOR_SIMD
#endif
