/* Charsets: identifiers 0 to 50 (KX_CHARSET_OK). 0 is US-ASCII, 44 is UTF-8. */
#ifndef KX_CHARSET_H
#define KX_CHARSET_H

#include "kx/kx_buffer.h"
#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

#define KX_CHARSET_US_ASCII ((kxInt)0)
#define KX_CHARSET_ISO_8859_1 ((kxInt)1)
#define KX_CHARSET_UTF_8 ((kxInt)44)
#define KX_CHARSET_COUNT ((kxInt)51)
#define KX_CHARSET_OK(cs) ((uint64_t)(cs) < (uint64_t)KX_CHARSET_COUNT)

/* Strict conversion: invalid input gives null instead of U+FFFD. */
#define KX_CHARSET_FLAG_STRICT ((kxInt)1)

/* The charset's kx name ("US_ASCII", "UTF_8", ...); charset must be KX_CHARSET_OK. */
KX_EXPORT KX_STRING *kxCharsetToString(kxInt charset);
/* Inverse of kxCharsetToString; a value outside 0 to 50 (-1) for an unknown name. */
KX_EXPORT kxInt kxCharsetFromString(KX_STRING *name);
/* The preferred IANA name ("US-ASCII", "UTF-8", "ISO-8859-1", ...). */
KX_EXPORT KX_STRING *kxCharsetToIanaName(kxInt charset);
/* IANA names and usual aliases, ASCII case-insensitive; -1 for an unknown name. */
KX_EXPORT kxInt kxCharsetFromIanaName(KX_STRING *name);

/* The string in the charset; null when some code point cannot be represented. */
KX_EXPORT KX_BUFFER *kxCharsetConvertStringToBuffer(KX_STRING *s, kxInt charset);
/* Lenient decoding: invalid input becomes U+FFFD. Never null. */
KX_EXPORT KX_STRING *kxCharsetConvertBufferToString(KX_BUFFER *b, kxInt charset);
/* With KX_CHARSET_FLAG_STRICT, null for invalid input; otherwise as kxCharsetConvertBufferToString. */
KX_EXPORT KX_STRING *kxCharsetTryConvertBufferToStringWithFlags(KX_BUFFER *b, kxInt charset, kxInt flags);

KX_EXTERN_C_END

#endif
