// Spreads the stand-in's own element loops (binding conversions, depth-to-space, concatenation
// copies) over the OpenMP threads that oneDNN already runs on; a plain loop without OpenMP.
#ifndef PLATFORM_TENSORRT_SRC_PARALLEL_FOR_H
#define PLATFORM_TENSORRT_SRC_PARALLEL_FOR_H

#if defined(_OPENMP)
#define TRT_HOST_PARALLEL_FOR _Pragma("omp parallel for schedule(static)")
#else
#define TRT_HOST_PARALLEL_FOR
#endif

#endif  // PLATFORM_TENSORRT_SRC_PARALLEL_FOR_H
