// Internal to the library: room on the stack for the short-lived lists of one header decode (tokens,
// parameters, section text), so that a value of usual size makes no heap allocation for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <new>
#include <vector>

namespace mime {

// Serves allocations from its own buffer while it lasts, then from the heap. The buffer is only ever
// taken from the front (a block given back inside it stays used until the arena goes); a heap block is
// given back at once, so a value too large for the buffer costs what plain vectors would.
class ScratchArena final : public std::pmr::memory_resource {
 public:
  ScratchArena() = default;
  ScratchArena(const ScratchArena &) = delete;
  ScratchArena &operator=(const ScratchArena &) = delete;

 private:
  static constexpr size_t kSize = 4096;

  void *do_allocate(size_t bytes, size_t alignment) override {
    void *p = next_;
    size_t space = static_cast<size_t>(buffer_ + kSize - next_);
    if (std::align(alignment, bytes, p, space)) {
      next_ = static_cast<std::byte *>(p) + bytes;
      return p;
    }
    return alignment <= __STDCPP_DEFAULT_NEW_ALIGNMENT__ ? ::operator new(bytes)
                                                         : ::operator new(bytes, std::align_val_t(alignment));
  }

  // The unsized forms: clang before 16 does not declare the sized ones unless asked to.
  void do_deallocate(void *p, size_t, size_t alignment) override {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer_);
    if (at >= begin && at < begin + kSize) return;
    if (alignment <= __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
      ::operator delete(p);
    } else {
      ::operator delete(p, std::align_val_t(alignment));
    }
  }

  bool do_is_equal(const std::pmr::memory_resource &other) const noexcept override { return this == &other; }

  alignas(std::max_align_t) std::byte buffer_[kSize];
  std::byte *next_ = buffer_;
};

template <typename T>
using ScratchVector = std::pmr::vector<T>;

}  // namespace mime
