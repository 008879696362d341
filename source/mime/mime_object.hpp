// The frame every mime object kind stands in: contract macros, copy-on-write, and the common object family
// written once for all four kinds. Internal to the library; the RAII reference inside it is kx::Ref (the
// name mime::Ref belongs to the public C++ handle of mime/mime.hpp).
#pragma once

#include "kx/kx_libraries.hpp"
#include "mime/mime_defs.h"
#include "mime/mime_module.h"

// The expression is stringized here, unexpanded, so its text is exactly what the source says.
#define MIME_ASSERT(expr) ((expr) ? (void)0 : kx___Abort(NULL, __FILE__, __LINE__, #expr))
#define MIME_ASSERT_LABEL(label, expr) ((expr) ? (void)0 : kx___Abort((label), __FILE__, __LINE__, #expr))

// All ones: the value a module variable keeps after shutdown has torn its object down.
#define MIME_DEAD_FLAGSET (reinterpret_cast<KX_FLAGSET *>(~static_cast<uintptr_t>(0)))

// Adds one flag, named by its macro, to a flagset under construction (module startup); a name that the
// flagset already holds aborts with the text "!kxFlagsetHasFlagCstr( *(&var), \"NAME\", -1 )".
// clang-format off
#define MIME_FLAGSET_ADD(flagset, name)                         \
  (MIME_ASSERT(!kxFlagsetHasFlagCstr( *(flagset), #name, -1 )), \
   kxFlagsetSetFlagCstr((flagset), #name, -1, (name)))
// clang-format on

namespace mime {

using kx::makePrivate;  // the copy-on-write step of every changer, with the kind's CreateFrom

// A new object of kind T (a struct that starts with KX_OBJ), zero-filled, reference count 1.
template <typename T>
T *createObject(KX_SORT *sort) {
  return reinterpret_cast<T *>(kx___ObjCreate(static_cast<kxInt>(sizeof(T)), sort));
}

// Stores value (may be null) into an object field: the new value is retained before the old one is
// released, so storing the object the field already holds is safe.
template <typename F>
void replaceField(F **field, F *value) {
  if (value) kxObjRetain(kx::asObj(value));
  F *old = *field;
  *field = value;
  kxObjRelease(kx::asObj(old));
}

// Releases an object field and overwrites it with the all-ones marker of a dead object.
template <typename F>
void killField(F **field) {
  kxObjRelease(kx::asObj(*field));
  *field = reinterpret_cast<F *>(~static_cast<uintptr_t>(0));
}

// A new reference to a field (null when absent).
template <typename F>
F *retainField(F *field) {
  if (field) kxObjRetain(kx::asObj(field));
  return field;
}

}  // namespace mime

// The expressions below are stringized: their spacing is part of the abort text, so no reformatting.
// clang-format off
// The static sort record mime___sort_KIND, owned by the mime module; null function slots mean the kx
// defaults.
#define MIME_DEFINE_SORT_RECORD(KIND, freeFunc, compareFunc, toStringFunc)                                   \
  KX_SORT mime___sort_##KIND = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), &mime___module, #KIND, (freeFunc),   \
                                (compareFunc), (toStringFunc), {}}

// The common object family of one kind: Sort, Obj, From, Retain, Release, ToString, Compare, Equals.
// The labels and expression texts of the aborts are part of the contract.
#define MIME_DEFINE_OBJECT_FAMILY(Xxx, KIND)                                                                 \
  extern "C" MIME_EXPORT KX_SORT *mime##Xxx##Sort(void) { return &mime___sort_##KIND; }                      \
  extern "C" MIME_EXPORT KX_OBJ *mime##Xxx##Obj(KIND *x) { return reinterpret_cast<KX_OBJ *>(x); }           \
  extern "C" MIME_EXPORT KIND *mime##Xxx##From(KX_OBJ *obj) {                                                \
    MIME_ASSERT_LABEL("stdfunc from", !obj || kxObjSort(obj)==&mime___sort_##KIND);                          \
    return reinterpret_cast<KIND *>(obj);                                                                    \
  }                                                                                                          \
  extern "C" MIME_EXPORT KIND *mime##Xxx##Retain(KIND *obj) {                                                \
    MIME_ASSERT_LABEL("stdfunc retain", obj);                                                                \
    kxObjRetain(reinterpret_cast<KX_OBJ *>(obj));                                                            \
    return obj;                                                                                              \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##Release(KIND *obj) {                                                \
    MIME_ASSERT_LABEL("stdfunc release", obj);                                                               \
    kxObjRelease(reinterpret_cast<KX_OBJ *>(obj));                                                           \
  }                                                                                                          \
  extern "C" MIME_EXPORT KX_STRING *mime##Xxx##ToString(KIND *obj) {                                         \
    MIME_ASSERT_LABEL("stdfunc tostring", obj);                                                              \
    return kxObjToString(reinterpret_cast<KX_OBJ *>(obj));                                                   \
  }                                                                                                          \
  extern "C" MIME_EXPORT kxInt mime##Xxx##Compare(KIND *objA, KIND *objB) {                                  \
    MIME_ASSERT_LABEL("stdfunc compare a", objA);                                                            \
    MIME_ASSERT_LABEL("stdfunc compare b", objB);                                                            \
    return kxObjCompare(reinterpret_cast<KX_OBJ *>(objA), reinterpret_cast<KX_OBJ *>(objB));                 \
  }                                                                                                          \
  extern "C" MIME_EXPORT kxBool mime##Xxx##Equals(KIND *objA, KIND *objB) {                                  \
    return kxObjCompare(reinterpret_cast<KX_OBJ *>(objA), reinterpret_cast<KX_OBJ *>(objB)) == 0;            \
  }
// clang-format on
