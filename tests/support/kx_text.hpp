// Strings for tests: kx strings made from exact code points (any 32-bit value, lone surrogates included)
// and read back into std::u32string, with RAII references.
#pragma once

#include <string>
#include <vector>

#include "kx/kx_internal.hpp"
#include "kx/kx_string.h"

namespace test_support {

using StringRef = kx::Ref<KX_STRING>;

inline StringRef kxText(std::u32string_view text) {
  std::vector<kxChar> chars(text.begin(), text.end());
  return StringRef(kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size())));
}

inline std::u32string codePoints(KX_STRING *s) {
  const kxChar *backing = kxStringBacking(s);
  return std::u32string(backing, backing + kxStringLength(s));
}

// Adopts a new reference and reads it.
inline std::u32string takeCodePoints(KX_STRING *adopted) {
  StringRef owned(adopted);
  return codePoints(owned.get());
}

inline std::string utf8(KX_STRING *s) {
  kxInt length = 0;
  char *text = kxStringConvertToCstr(s, &length);
  std::string out(text, static_cast<size_t>(length));
  kxMemFree(text);
  return out;
}

}  // namespace test_support
