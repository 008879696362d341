// The frame every mime object kind stands in: contract macros, RAII references, copy-on-write, and the
// common object family written once for all four kinds. Internal to the library.
#pragma once

#include "kx/kx_internal.hpp"
#include "mime/mime_defs.h"

// The expression is stringized here, unexpanded, so its text is exactly what the source says.
#define MIME_ASSERT(expr) ((expr) ? (void)0 : kx___Abort(NULL, __FILE__, __LINE__, #expr))
#define MIME_ASSERT_LABEL(label, expr) ((expr) ? (void)0 : kx___Abort((label), __FILE__, __LINE__, #expr))

extern "C" {
MIME_EXPORT extern KX_MODULE mime___module;
}

namespace mime {

using kx::Ref;

inline KX_OBJ *asObj(void *p) { return static_cast<KX_OBJ *>(p); }

// Copy-on-write step of every changer: a shared object is replaced, in the caller's reference, by a private
// copy made with the kind's CreateFrom; other holders keep seeing the old object unchanged.
template <typename T>
void makePrivate(T **ref, T *(*createFrom)(T *)) {
  if (kxObjIsShared(asObj(*ref))) {
    T *copy = createFrom(*ref);
    kxObjRelease(asObj(*ref));
    *ref = copy;
  }
}

// Stores value (may be null) into an object field: the new value is retained before the old one is
// released, so storing the object the field already holds is safe.
template <typename F>
void replaceField(F **field, F *value) {
  if (value) kxObjRetain(asObj(value));
  F *old = *field;
  *field = value;
  kxObjRelease(asObj(old));
}

// Releases an object field and overwrites it with the all-ones marker of a dead object.
template <typename F>
void killField(F **field) {
  kxObjRelease(asObj(*field));
  *field = reinterpret_cast<F *>(~static_cast<uintptr_t>(0));
}

// A new reference to a field (null when absent).
template <typename F>
F *retainField(F *field) {
  if (field) kxObjRetain(asObj(field));
  return field;
}

}  // namespace mime

// The common object family of one kind: Sort, Obj, From, Retain, Release, ToString, Compare, Equals.
// The labels and expression texts of the aborts are part of the contract.
#define MIME_DEFINE_OBJECT_FAMILY(Xxx, KIND)                                                   \
  extern "C" KX_SORT *mime##Xxx##Sort(void) { return &mime___sort_##KIND; }                   \
  extern "C" KX_OBJ *mime##Xxx##Obj(KIND *x) { return reinterpret_cast<KX_OBJ *>(x); }         \
  extern "C" KIND *mime##Xxx##From(KX_OBJ *obj) {                                              \
    MIME_ASSERT_LABEL("stdfunc from", !obj || kxObjSort(obj)==&mime___sort_##KIND);            \
    return reinterpret_cast<KIND *>(obj);                                                      \
  }                                                                                            \
  extern "C" KIND *mime##Xxx##Retain(KIND *obj) {                                              \
    MIME_ASSERT_LABEL("stdfunc retain", obj);                                                  \
    kxObjRetain(reinterpret_cast<KX_OBJ *>(obj));                                              \
    return obj;                                                                                \
  }                                                                                            \
  extern "C" void mime##Xxx##Release(KIND *obj) {                                              \
    MIME_ASSERT_LABEL("stdfunc release", obj);                                                 \
    kxObjRelease(reinterpret_cast<KX_OBJ *>(obj));                                             \
  }                                                                                            \
  extern "C" KX_STRING *mime##Xxx##ToString(KIND *obj) {                                       \
    MIME_ASSERT_LABEL("stdfunc tostring", obj);                                                \
    return kxObjToString(reinterpret_cast<KX_OBJ *>(obj));                                     \
  }                                                                                            \
  extern "C" kxInt mime##Xxx##Compare(KIND *objA, KIND *objB) {                                \
    MIME_ASSERT_LABEL("stdfunc compare a", objA);                                              \
    MIME_ASSERT_LABEL("stdfunc compare b", objB);                                              \
    return kxObjCompare(reinterpret_cast<KX_OBJ *>(objA), reinterpret_cast<KX_OBJ *>(objB));  \
  }                                                                                            \
  extern "C" kxBool mime##Xxx##Equals(KIND *objA, KIND *objB) {                                \
    return kxObjCompare(reinterpret_cast<KX_OBJ *>(objA), reinterpret_cast<KX_OBJ *>(objB)) == 0; \
  }
