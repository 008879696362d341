// Shared by the fuzz targets: the module started once, RAII references, and turning fuzz octets into
// strings (UTF-8 read leniently, or raw code points four octets each, so lone surrogates and values above
// U+10FFFF reach the code too).
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kx/kx_internal.hpp"
#include "mime/mime.h"

namespace fuzz {

using kx::Ref;

inline void startModuleOnce() {
  static const bool started = kxModuleStartup(mimeModule()) != 0;
  if (!started) std::abort();
}

inline KX_STRING *stringFromUtf8(const std::string &text) {
  return kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size()));
}

inline KX_STRING *stringFromCodePoints(const uint8_t *data, size_t size) {
  std::vector<kxChar> chars(size / 4);
  if (!chars.empty()) std::memcpy(chars.data(), data, chars.size() * 4);
  return kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size()));
}

// A string from the provider: either form, chosen by one octet.
inline KX_STRING *consumeString(FuzzedDataProvider &in, size_t maxLength) {
  if (in.ConsumeBool()) return stringFromUtf8(in.ConsumeRandomLengthString(maxLength));
  std::string raw = in.ConsumeRandomLengthString(maxLength * 4);
  return stringFromCodePoints(reinterpret_cast<const uint8_t *>(raw.data()), raw.size());
}

inline KX_BUFFER *bufferFrom(const std::string &octets) {
  return kxBufferCreateFromBytes(octets.data(), static_cast<kxInt>(octets.size()));
}

inline MIME_OPTIONS *consumeOptions(FuzzedDataProvider &in) {
  MIME_OPTIONS *mo = mimeOptionsCreate();
  mimeOptionsSetFlags(&mo, in.ConsumeIntegral<uint8_t>());
  mimeOptionsSetWrapLineLength(&mo, in.ConsumeIntegralInRange<kxInt>(-1, 200));
  kxInt segment = in.ConsumeIntegralInRange<kxInt>(-1, 100);
  mimeOptionsSetRfc2231MaxSegmentLength(&mo, segment == 0 ? -1 : segment);
  return mo;
}

inline bool sameBytes(KX_BUFFER *a, KX_BUFFER *b) {
  return kxBufferLength(a) == kxBufferLength(b) && kxMemCompare(kxBufferBacking(a), kxBufferBacking(b), kxBufferLength(a)) == 0;
}

#define FUZZ_CHECK(cond)                                                    \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

}  // namespace fuzz
