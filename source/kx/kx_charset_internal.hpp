// The charset table that the name lookups and the converters share.
#pragma once

#include "kx/kx_charset.h"

namespace kx::charset {

// The Unicode encoding forms, whose byte order the converters handle themselves.
inline constexpr kxInt kUtf16 = 26;
inline constexpr kxInt kUtf16Be = 27;
inline constexpr kxInt kUtf16Le = 28;
inline constexpr kxInt kUtf32 = 29;
inline constexpr kxInt kUtf32Be = 30;
inline constexpr kxInt kUtf32Le = 31;

struct Names {
  const char *kx;     // kxCharsetToString: upper case, "_" for "-"
  const char *iana;   // kxCharsetToIanaName: the IANA preferred MIME name, or the registered name
  const char *iconv;  // the name glibc's iconv_open knows it by
};

// The names of a charset that is KX_CHARSET_OK.
const Names &namesOf(kxInt charset);
// Octets per code unit: 2 for the UTF-16 forms, 4 for the UTF-32 forms, 1 for every other charset. A
// lenient decoder skips one unit at a time past invalid input, so that it keeps the unit boundaries.
kxInt unitSizeOf(kxInt charset);

}  // namespace kx::charset
