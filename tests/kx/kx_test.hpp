// Small helpers shared by the kx tests: owned references and readable views of strings and buffers.
#pragma once

#include <string>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"

namespace kxtest {

using StringRef = kx::Ref<KX_STRING>;
using BufferRef = kx::Ref<KX_BUFFER>;
using VectorRef = kx::Ref<KX_VECTOR>;
using DictRef = kx::Ref<KX_DICT>;
using ObjRef = kx::Ref<KX_OBJ>;

inline StringRef str(const char *utf8) {
  return StringRef(kxStringCreateFromCstr(utf8, -1));
}

// The string as UTF-8 (surrogates and out-of-range values as U+FFFD).
inline std::string utf8Of(KX_STRING *s) {
  kxInt length = 0;
  char *text = kxStringConvertToCstr(s, &length);
  std::string result(text, static_cast<size_t>(length));
  kxMemFree(text);
  return result;
}

// The object's string form as UTF-8.
template <typename T>
std::string textOf(T *obj) {
  StringRef text(kxObjToString(reinterpret_cast<KX_OBJ *>(obj)));
  return utf8Of(text.get());
}

inline std::string bytesOf(KX_BUFFER *b) {
  return std::string(reinterpret_cast<const char *>(kxBufferBacking(b)),
                     static_cast<size_t>(kxBufferLength(b)));
}

inline BufferRef buf(const std::string &bytes) {
  return BufferRef(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
}

template <typename T>
kxInt refsOf(T *obj) {
  return kx___ObjRefCount(reinterpret_cast<KX_OBJ *>(obj));
}

}  // namespace kxtest
