// Vectors of objects: amortised O(1) appends to an unshared vector, copy-on-write for a shared one.
#include "kx/kx_vector.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kx/kx_internal.hpp"
#include "kx/kx_string_internal.hpp"

// Each element holds one reference.
struct KX_VECTOR {
  KX_OBJ obj;
  KX_OBJ **items;  // null while capacity is 0
  kxInt length;
  kxInt capacity;
};

namespace {
void freeVector(KX_OBJ *obj);
kxInt compareVectors(KX_OBJ *a, KX_OBJ *b);
KX_STRING *vectorToString(KX_OBJ *obj);
KX_VECTOR *asVector(KX_OBJ *obj) {
  return reinterpret_cast<KX_VECTOR *>(obj);
}
KX_VECTOR *createWithCapacity(kxInt capacity);
KX_VECTOR *copyVector(KX_VECTOR *v, kxInt extra);
void reserve(KX_VECTOR *v, kxInt needed);
constexpr kxInt kMaxLength = (kxInt)1 << 40;
}  // namespace

KX_SORT kx___sort_KX_VECTOR = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                               nullptr,
                               "KX_VECTOR",
                               freeVector,
                               compareVectors,
                               vectorToString,
                               {}};

KX_DEFINE_KIND_BASICS(Vector, KX_VECTOR)

extern "C" {

KX_VECTOR *kxVectorCreate(void) {
  return createWithCapacity(0);
}

kxInt kxVectorLength(KX_VECTOR *v) {
  KX_ASSERT(v);
  return v->length;
}

KX_OBJ *kxVectorObjAt(KX_VECTOR *v, kxInt index) {
  KX_ASSERT(v);
  KX_ASSERT(index >= 0 && index < v->length);
  return kxObjRetain(v->items[index]);
}

KX_OBJ *const *kxVectorBacking(KX_VECTOR *v) {
  KX_ASSERT(v);
  static KX_OBJ *const empty[1] = {nullptr};  // never null, like the other backings
  return v->items ? v->items : empty;
}

void kxVectorAppendObj(KX_VECTOR **v, KX_OBJ *obj) {
  KX_ASSERT(v);
  KX_ASSERT(*v);
  KX_ASSERT(obj);
  KX_ASSERT((*v)->length < kMaxLength);
  kxObjRetain(obj);  // before the copy-on-write, which may release the last other holder of obj
  kx::makePrivate(v, [](KX_VECTOR *shared) { return copyVector(shared, 1); });
  reserve(*v, (*v)->length + 1);
  (*v)->items[(*v)->length++] = obj;
}

void kxVectorDelAt(KX_VECTOR **v, kxInt index) {
  KX_ASSERT(v);
  KX_ASSERT(*v);
  KX_ASSERT(index >= 0 && index < (*v)->length);
  kx::makePrivate(v, [](KX_VECTOR *shared) { return copyVector(shared, 0); });
  KX_VECTOR *vec = *v;
  KX_OBJ *removed = vec->items[index];
  std::memmove(vec->items + index, vec->items + index + 1,
               static_cast<size_t>(vec->length - index - 1) * sizeof(KX_OBJ *));
  --vec->length;
  kxObjRelease(removed);  // last: its free function may run arbitrary code
}

kxBool kxVectorContainsOnly(KX_VECTOR *v, KX_SORT *sort) {
  KX_ASSERT(v);
  KX_ASSERT(sort);
  return std::all_of(v->items, v->items + v->length,
                     [sort](KX_OBJ *item) { return item->kx___sort == sort; });
}

}  // extern "C"

// --- storage ---

namespace {

KX_VECTOR *createWithCapacity(kxInt capacity) {
  auto *v = reinterpret_cast<KX_VECTOR *>(kx___ObjCreate(sizeof(KX_VECTOR), &kx___sort_KX_VECTOR));
  if (capacity > 0) reserve(v, capacity);
  return v;
}

// Doubling keeps a run of appends amortised O(1).
void reserve(KX_VECTOR *v, kxInt needed) {
  if (needed <= v->capacity) return;
  kxInt capacity = std::min(std::max({needed, v->capacity * 2, kxInt{4}}), kMaxLength);
  auto *items =
      static_cast<KX_OBJ **>(std::realloc(v->items, static_cast<size_t>(capacity) * sizeof(KX_OBJ *)));
  KX_ASSERT(items != nullptr);
  v->items = items;
  v->capacity = capacity;
}

// A private copy sharing every element (one more reference each), with room for extra more.
KX_VECTOR *copyVector(KX_VECTOR *v, kxInt extra) {
  KX_VECTOR *copy = createWithCapacity(v->length + extra);
  for (kxInt i = 0; i < v->length; ++i) copy->items[i] = kxObjRetain(v->items[i]);
  copy->length = v->length;
  return copy;
}

}  // namespace

// --- sort functions ---

namespace {

void freeVector(KX_OBJ *obj) {
  KX_VECTOR *v = asVector(obj);
  for (kxInt i = 0; i < v->length; ++i) kxObjRelease(v->items[i]);
  std::free(v->items);
  v->items = nullptr;
  v->length = 0;
}

// Element by element with kxObjCompare; a proper prefix orders first.
kxInt compareVectors(KX_OBJ *a, KX_OBJ *b) {
  KX_VECTOR *x = asVector(a);
  KX_VECTOR *y = asVector(b);
  kxInt common = std::min(x->length, y->length);
  for (kxInt i = 0; i < common; ++i) {
    kxInt order = kxObjCompare(x->items[i], y->items[i]);
    if (order != 0) return order;
  }
  return kx::sign(x->length - y->length);
}

// "[a, b]", each element in its own string form.
KX_STRING *vectorToString(KX_OBJ *obj) {
  KX_VECTOR *v = asVector(obj);
  KX_STRING *text = kx::stringCreateWithCapacity(2);
  kx::stringAppendAscii(text, "[", 1);
  for (kxInt i = 0; i < v->length; ++i) {
    if (i > 0) kx::stringAppendAscii(text, ", ", 2);
    kx::Ref<KX_STRING> item(kxObjToString(v->items[i]));
    kx::stringAppendRaw(text, kxStringBacking(item.get()), kxStringLength(item.get()));
  }
  kx::stringAppendAscii(text, "]", 1);
  return text;
}

}  // namespace
