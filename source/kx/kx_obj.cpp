// Objects: allocation, atomic reference counts, sorts, the defaults of compare and to-string, the abort.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kx/kx_internal.hpp"
#include "kx/kx_string.h"

KX_SORT kx___sort_KX_SORT = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "KX_SORT", nullptr, nullptr, nullptr, {}};

extern "C" {

// One line, "kx abort: FILE:LINE: LABEL: EXPRESSION", the label and expression parts left out when absent,
// written with a single call so that concurrent aborts do not interleave.
void kx___Abort(const char *label, const char *file, kxInt line, const char *expression) {
  std::fprintf(stderr, "kx abort: %s:%lld%s%s%s%s\n", file ? file : "?", static_cast<long long>(line),
               label ? ": " : "", label ? label : "", expression ? ": " : "", expression ? expression : "");
  std::fflush(stderr);
  std::abort();
}

kxInt kxIntMin(kxInt a, kxInt b) {
  return a < b ? a : b;
}
kxInt kxIntMax(kxInt a, kxInt b) {
  return a > b ? a : b;
}

kxInt kxUnicodeHexadecimalDigitValue(kxChar c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int kxMemCompare(const void *a, const void *b, kxInt length) {
  KX_ASSERT(length >= 0);
  if (length == 0) return 0;
  return std::memcmp(a, b, static_cast<size_t>(length));
}

void kxMemFree(void *p) {
  std::free(p);
}

KX_OBJ *kx___ObjCreate(kxInt size, KX_SORT *sort) {
  KX_ASSERT(size >= static_cast<kxInt>(sizeof(KX_OBJ)));
  KX_ASSERT(sort);
  // malloc and a memset rather than calloc: glibc serves small mallocs from its per-thread cache, callocs
  // not, and most objects are small and short-lived.
  auto *obj = static_cast<KX_OBJ *>(std::malloc(static_cast<size_t>(size)));
  KX_ASSERT(obj != nullptr);
#if defined(__GNUC__)
  // g++ fuses a malloc and a memset of the whole block into calloc; an empty asm statement that may change
  // the pointer keeps them apart.
  asm("" : "+r"(obj));
#endif
  std::memset(obj, 0, static_cast<size_t>(size));
  obj->kx___refs = 1;
  obj->kx___sort = sort;
  return obj;
}

void kx___ObjFree(KX_OBJ *obj) {
  KX_ASSERT(obj);
  if (obj->kx___sort->freeFunc) obj->kx___sort->freeFunc(obj);
  std::free(obj);
}

kxInt kx___ObjRefCount(KX_OBJ *obj) {
  KX_ASSERT(obj);
  return kx::refCount(obj).load(std::memory_order_acquire);
}

KX_OBJ *kxObjRetain(KX_OBJ *obj) {
  KX_ASSERT(obj);
  auto refs = kx::refCount(obj);
  if (refs.load(std::memory_order_relaxed) >= 0) refs.fetch_add(1, std::memory_order_relaxed);
  return obj;
}

void kxObjRelease(KX_OBJ *obj) {
  if (!obj) return;
  auto refs = kx::refCount(obj);
  if (refs.load(std::memory_order_relaxed) < 0) return;  // permanent
  if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) kx___ObjFree(obj);
}

kxBool kxObjIsShared(KX_OBJ *obj) {
  KX_ASSERT(obj);
  kxInt refs = kx::refCount(obj).load(std::memory_order_acquire);
  return refs != 1;  // a permanent object counts as shared: it is never changed in place
}

KX_SORT *kxObjSort(KX_OBJ *obj) {
  KX_ASSERT(obj);
  return obj->kx___sort;
}

kxInt kxObjCompare(KX_OBJ *a, KX_OBJ *b) {
  KX_ASSERT(a);
  KX_ASSERT(b);
  if (a == b) return 0;
  if (a->kx___sort != b->kx___sort) {
    int byName = std::strcmp(a->kx___sort->name, b->kx___sort->name);
    if (byName != 0) return byName < 0 ? -1 : 1;
    return a->kx___sort < b->kx___sort ? -1 : 1;
  }
  if (a->kx___sort->compareFunc) return a->kx___sort->compareFunc(a, b);
  return a < b ? -1 : 1;  // identity order for sorts without a compare function
}

kxBool kxObjEquals(KX_OBJ *a, KX_OBJ *b) {
  return kxObjCompare(a, b) == 0;
}

KX_STRING *kxObjToString(KX_OBJ *obj) {
  KX_ASSERT(obj);
  if (obj->kx___sort->toStringFunc) return obj->kx___sort->toStringFunc(obj);
  char text[128];
  int n = std::snprintf(text, sizeof text, "<%s@%p>", obj->kx___sort->name, static_cast<void *>(obj));
  return kxStringCreateFromCstr(text, n);
}

KX_SORT *kxSortSort(void) {
  return &kx___sort_KX_SORT;
}

const char *kxSortName(KX_SORT *sort) {
  KX_ASSERT(sort);
  return sort->name;
}

}  // extern "C"
