// The frame shared by rfc's own source files: the contract macros and the visibility of the codec cores that
// tests and benchmarks call directly. RAII references and copy-on-write come from kx. Internal.
#pragma once

#include "kx/kx_libraries.hpp"
#include "rfc/rfc_base.h"

// The expression is stringized unexpanded, so the abort text is exactly what the source says.
#define RFC_ASSERT(expr) ((expr) ? (void)0 : kx___Abort(NULL, __FILE__, __LINE__, #expr))
#define RFC_ASSERT_LABEL(label, expr) ((expr) ? (void)0 : kx___Abort((label), __FILE__, __LINE__, #expr))

// The span cores are C++ functions of the library that its own tests and benchmarks call; they are exported
// but are no part of the C interface.
#define RFC_INTERNAL __attribute__((visibility("default")))

namespace rfc {

// True when this processor runs the AVX2 paths (AVX2, BMI1 and POPCNT, with the system saving the vector
// registers). The explicit init makes the answer right even when asked from a static constructor.
inline bool processorRunsAvx2Paths() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}

}  // namespace rfc
