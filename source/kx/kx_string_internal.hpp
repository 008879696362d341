// The layout of a string and the helpers that the string, format and container files share.
#pragma once

#include "kx/kx_internal.hpp"
#include "kx/kx_string.h"

// The code points of a short string live in the object's own allocation, right after this header; longer
// ones, and any string that has grown, in a separate block, so that an unshared string can grow in place
// (amortised O(1) appends). capacity counts code points.
struct KX_STRING {
  KX_OBJ obj;
  kxChar *chars;  // null while capacity is 0
  kxInt length;
  kxInt capacity;
};

extern KX_SORT kx___sort_KX_STRING;

namespace kx {

// The most code points a string may hold; beyond it a create or append is a broken precondition.
inline constexpr kxInt kStringMaxLength = (kxInt)1 << 40;

// A new empty string with room for capacity code points.
KX_STRING *stringCreateWithCapacity(kxInt capacity);
// Makes *s private (copy-on-write); a copy gets room for extra more code points. The append helpers
// below grow the block themselves.
void stringPrepareAppend(KX_STRING **s, kxInt extra);
// Gives a string that the caller alone holds room for at least capacity code points (doubling).
void stringReserve(KX_STRING *s, kxInt capacity);
// Appends to a string that the caller alone holds; chars may point into s itself.
void stringAppendRaw(KX_STRING *s, const kxChar *chars, kxInt count);
// Appends UTF-8 octets (ill-formed sequences as U+FFFD) to a string that the caller alone holds.
void stringAppendUtf8(KX_STRING *s, const kxByte *octets, kxInt count);
// Appends ASCII text to a string that the caller alone holds.
void stringAppendAscii(KX_STRING *s, const char *text, kxInt count);

}  // namespace kx
