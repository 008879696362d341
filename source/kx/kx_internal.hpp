// Helpers shared by kx's own source files: RAII references, atomic reference counts, the common object
// operations of a kind, and the copy-on-write step of every changer.
#pragma once

#include <atomic>
#include <utility>

#include "kx/kx_obj.h"

namespace kx {

inline std::atomic_ref<kxInt> refCount(KX_OBJ *obj) {
  return std::atomic_ref<kxInt>(obj->kx___refs);
}

// Every kx kind is a standard-layout struct whose first member is its KX_OBJ header.
template <typename T>
KX_OBJ *asObj(T *p) {
  return reinterpret_cast<KX_OBJ *>(p);
}

// Owns one reference to a kx object of kind T (any struct that starts with KX_OBJ). Released on scope exit;
// release() hands the reference over to the caller.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T *adopted) : ptr_(adopted) {}
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  Ref(Ref &&other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  Ref &operator=(Ref &&other) noexcept {
    if (this != &other) reset(std::exchange(other.ptr_, nullptr));
    return *this;
  }
  ~Ref() { reset(); }

  // A new reference to a borrowed object (null stays null).
  static Ref retained(T *borrowed) {
    if (borrowed) kxObjRetain(reinterpret_cast<KX_OBJ *>(borrowed));
    return Ref(borrowed);
  }

  T *get() const { return ptr_; }
  T **addr() { return &ptr_; }
  T *operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  [[nodiscard]] T *release() { return std::exchange(ptr_, nullptr); }
  void reset(T *adopted = nullptr) {
    T *old = std::exchange(ptr_, adopted);
    if (old) kxObjRelease(reinterpret_cast<KX_OBJ *>(old));
  }

 private:
  T *ptr_ = nullptr;
};

// Copy-on-write step of every changer: when another holder may see *ref, the caller's reference is replaced
// by a private copy made by copy(*ref); the shared object is left to its other holders unchanged.
template <typename T, typename Copy>
void makePrivate(T **ref, Copy copy) {
  if (kxObjIsShared(asObj(*ref))) {
    T *fresh = copy(*ref);
    kxObjRelease(asObj(*ref));
    *ref = fresh;
  }
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
