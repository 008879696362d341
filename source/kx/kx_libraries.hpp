// What the libraries built on kx (rfc, mime) use of it beyond its C interface, declared in one place so
// that they include no header of kx's own inside: the RAII reference kx::Ref and the copy-on-write step
// kx::makePrivate, the UTF-8 codec kx::utf8 (kx_utf8.hpp), and dictionary entries without the reference
// traffic of the C interface. Not installed.
#pragma once

#include <utility>

#include "kx/kx_dict.h"
#include "kx/kx_obj.h"
#include "kx/kx_utf8.hpp"

namespace kx {

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

}  // namespace kx

KX_EXTERN_C_BEGIN

/* One entry of a dictionary. */
typedef struct KX_DICT_ENTRY {
  KX_STRING *key;
  KX_OBJ *value;
} KX_DICT_ENTRY;

/* The entry at index (inside d), borrowed: no new reference; valid while the caller holds d and d does not
 * change. Entries come in the dictionary's own order, which is kx's business: a caller that needs an order
 * sorts them itself. */
KX_EXPORT KX_DICT_ENTRY kx___DictEntryAt(KX_DICT *d, kxInt index);

/* A new dictionary of the count entries, owned by the caller. It takes over the caller's reference to every
 * key and value. The entries may come in any order, each key once: a key given twice aborts
 * ("isNewKey"), as does a null key or value. Entries already in the dictionary's order are taken in one
 * pass, without the lookups of count separate stores. */
KX_EXPORT KX_DICT *kx___DictCreateFromEntries(const KX_DICT_ENTRY *entries, kxInt count);

KX_EXTERN_C_END
