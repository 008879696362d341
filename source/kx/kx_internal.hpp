// Helpers shared by kx's own source files: atomic reference counts and the common object operations of a
// kind, beside what kx offers the libraries built on it (kx_libraries.hpp).
#pragma once

#include <atomic>

#include "kx/kx_libraries.hpp"
#include "kx/kx_obj.h"

namespace kx {

inline std::atomic_ref<kxInt> refCount(KX_OBJ *obj) {
  return std::atomic_ref<kxInt>(obj->kx___refs);
}

// Three-way result folded to exactly -1, 0 or 1.
template <typename A>
kxInt sign(A value) {
  return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

}  // namespace kx

// Sort, Obj and From of a kx kind whose static sort record is kx___sort_<TYPE>.
#define KX_DEFINE_KIND_BASICS(Kind, TYPE)                   \
  extern "C" KX_SORT *kx##Kind##Sort(void) {                \
    return &kx___sort_##TYPE;                               \
  }                                                         \
  extern "C" KX_OBJ *kx##Kind##Obj(TYPE *x) {               \
    return reinterpret_cast<KX_OBJ *>(x);                   \
  }                                                         \
  extern "C" TYPE *kx##Kind##From(KX_OBJ *obj) {            \
    KX_ASSERT(!obj || kxObjSort(obj) == &kx___sort_##TYPE); \
    return reinterpret_cast<TYPE *>(obj);                   \
  }
