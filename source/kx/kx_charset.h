/* Charsets: identifiers 0 to 50 (KX_CHARSET_OK). 0 is US-ASCII, 44 is UTF-8. */
#ifndef KX_CHARSET_H
#define KX_CHARSET_H

#include "kx/kx_buffer.h"
#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

#define KX_CHARSET_US_ASCII KX_INT_C(0)
#define KX_CHARSET_ISO_8859_1 KX_INT_C(1)
#define KX_CHARSET_UTF_8 KX_INT_C(44)
#define KX_CHARSET_COUNT KX_INT_C(51)
#define KX_CHARSET_OK(cs) (KX_CAST(uint64_t, cs) < KX_CAST(uint64_t, KX_CHARSET_COUNT))

/* Strict conversion: invalid input gives null instead of U+FFFD. */
#define KX_CHARSET_FLAG_STRICT KX_INT_C(1)

/* A new string with the charset's kx name ("US_ASCII", "UTF_8", "WINDOWS_1252", ...); charset must be
 * KX_CHARSET_OK. */
KX_EXPORT KX_STRING *kxCharsetToString(kxInt charset);
/* Inverse of kxCharsetToString, ASCII case-insensitive; -1 for an unknown name. */
KX_EXPORT kxInt kxCharsetFromString(KX_STRING *name);
/* A new string with the preferred IANA name ("US-ASCII", "UTF-8", "ISO-8859-1", "Shift_JIS", ...). */
KX_EXPORT KX_STRING *kxCharsetToIanaName(kxInt charset);
/* The charset of an IANA name or a usual alias ("utf8", "latin1", "cp1252", "x-sjis", ...), ASCII
 * case-insensitive, nothing trimmed; -1 for an unknown name. */
KX_EXPORT kxInt kxCharsetFromIanaName(KX_STRING *name);
/* The same for the length code points at name (name may be null when length is 0; a negative length
 * aborts), for a reader that has the name inside a longer text. */
KX_EXPORT kxInt kxCharsetFromIanaNameChars(const kxChar *name, kxInt length);

/* A new buffer with the string in the charset, owned by the caller; null when some code point cannot be
 * represented, which includes every lone surrogate and value above U+10FFFF, and null when the charset's
 * converter cannot be opened (its module is not installed, or no file descriptor or memory is left; a later
 * call tries again). US-ASCII, ISO-8859-1 and UTF-8 need no converter. UTF-16 and UTF-32 are written
 * big-endian after a byte-order mark. */
KX_EXPORT KX_BUFFER *kxCharsetConvertStringToBuffer(KX_STRING *s, kxInt charset);
/* A new string decoded leniently, owned by the caller: each invalid sequence becomes U+FFFD (for UTF-8 one
 * per maximal ill-formed subpart). Null only when the charset's converter cannot be opened (as for
 * kxCharsetConvertStringToBuffer; never for US-ASCII, ISO-8859-1 or UTF-8); never aborts on content. A
 * byte-order mark starts UTF-16 and UTF-32 text and is dropped; without one they are read big-endian. */
KX_EXPORT KX_STRING *kxCharsetConvertBufferToString(KX_BUFFER *b, kxInt charset);
/* With KX_CHARSET_FLAG_STRICT, null for invalid input; with 0 as kxCharsetConvertBufferToString. Null too
 * when the converter cannot be opened. Other flag bits abort. */
KX_EXPORT KX_STRING *kxCharsetTryConvertBufferToStringWithFlags(KX_BUFFER *b, kxInt charset, kxInt flags);

KX_EXTERN_C_END

#endif
