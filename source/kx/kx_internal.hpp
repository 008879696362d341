// Helpers shared by kx's own source files: RAII references and atomic reference counts.
#pragma once

#include <atomic>
#include <utility>

#include "kx/kx_obj.h"

namespace kx {

inline std::atomic_ref<kxInt> refCount(KX_OBJ *obj) { return std::atomic_ref<kxInt>(obj->kx___refs); }

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

}  // namespace kx
