#pragma once
// Symbol visibility of the executor library.
#if defined(_WIN32)
#if defined(KRELL_TASKFLOW_BUILDING)
#define TF_API __declspec(dllexport)
#else
#define TF_API __declspec(dllimport)
#endif
#else
#define TF_API __attribute__((visibility("default")))
#endif
