// UTF-8 reading and writing shared by the string and format code. Reading never fails: every ill-formed
// sequence becomes U+FFFD. Writing never produces surrogates or values above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kx/kx_defs.h"

namespace kx::utf8 {

inline constexpr kxChar kReplacement = 0xFFFD;

inline bool isSurrogate(kxChar c) {
  return c >= 0xD800 && c <= 0xDFFF;
}
inline bool isEncodable(kxChar c) {
  return c <= 0x10FFFF && !isSurrogate(c);
}

// Reads one code point at p (p < end) into *out and returns the position after it. An ill-formed sequence
// yields one U+FFFD for its maximal valid prefix (at least one octet), so the reader resynchronises on the
// next octet that could start a sequence: overlongs, surrogates, values above U+10FFFF, stray continuation
// octets and truncated sequences are all replaced, never skipped silently.
inline const kxByte *decode(const kxByte *p, const kxByte *end, kxChar *out) {
  kxByte lead = *p++;
  if (lead < 0x80) {
    *out = lead;
    return p;
  }
  int more;
  kxChar c;
  kxByte low = 0x80, high = 0xBF;  // allowed range of the second octet
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // below: overlong
    if (lead == 0xED) high = 0x9F;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // below: overlong
    if (lead == 0xF4) high = 0x8F;  // above: beyond U+10FFFF
  } else {
    *out = kReplacement;  // continuation octet, C0/C1 (always overlong) or F5-FF
    return p;
  }
  for (int i = 0; i < more; ++i, low = 0x80, high = 0xBF) {
    if (p == end || *p < low || *p > high) {
      *out = kReplacement;
      return p;
    }
    c = (c << 6) | (*p++ & 0x3F);
  }
  *out = c;
  return p;
}

// Octets that encode writes for c (3 for a code point that becomes U+FFFD).
inline kxInt encodedLength(kxChar c) {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c < 0x10000 || !isEncodable(c)) return 3;
  return 4;
}

// Writes c (U+FFFD in its place when it cannot be encoded) at out and returns the position after it.
inline char *encode(kxChar c, char *out) {
  if (!isEncodable(c)) c = kReplacement;
  auto put = [&out](kxChar octet) { *out++ = static_cast<char>(static_cast<kxByte>(octet)); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace kx::utf8
