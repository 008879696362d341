/* Base64 (RFC 2045 section 6.8) and its options. Every function returning an object returns a new
 * reference the caller releases; arguments are borrowed. Null arguments abort. */
#ifndef RFC_BASE_H
#define RFC_BASE_H

#include "kx/kx_buffer.h"
#include "kx/kx_store.h"

KX_EXTERN_C_BEGIN

#define RFC_EXPORT KX_EXPORT

/* The Base64 alphabet of RFC 2045 ("A-Za-z0-9+/", "=" padding); the only selector there is. */
#define RFC_BASE_SELECTOR_MIME ((kxInt)3)
#define RFC_BASE_SELECTOR_OK(sel) ((sel) == RFC_BASE_SELECTOR_MIME)

typedef struct RFC_BASE_OPTIONS RFC_BASE_OPTIONS;

RFC_EXPORT KX_SORT *rfcBaseOptionsSort(void);
RFC_EXPORT KX_OBJ *rfcBaseOptionsObj(RFC_BASE_OPTIONS *bo);
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsFrom(KX_OBJ *obj);
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsRetain(RFC_BASE_OPTIONS *bo);
RFC_EXPORT void rfcBaseOptionsRelease(RFC_BASE_OPTIONS *bo);
RFC_EXPORT kxInt rfcBaseOptionsCompare(RFC_BASE_OPTIONS *a, RFC_BASE_OPTIONS *b);
RFC_EXPORT kxBool rfcBaseOptionsEquals(RFC_BASE_OPTIONS *a, RFC_BASE_OPTIONS *b);

/* Defaults: output line length 0 (no line breaks), marker true. */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsCreate(void);
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsCreateFrom(RFC_BASE_OPTIONS *source);

/* Characters per encoded line, CR LF between lines; 0: one line. Rounded down to a multiple of 4 when
 * encoding (a line never splits a group); values 1 to 3 count as 4. */
RFC_EXPORT kxInt rfcBaseOptionsOutputLineLength(RFC_BASE_OPTIONS *bo);
RFC_EXPORT void rfcBaseOptionsSetOutputLineLength(RFC_BASE_OPTIONS **bo, kxInt length); /* length >= 0 */
RFC_EXPORT kxBool rfcBaseOptionsOutputLineLengthDefault(RFC_BASE_OPTIONS *bo);
RFC_EXPORT void rfcBaseOptionsSetOutputLineLengthDefault(RFC_BASE_OPTIONS **bo);

/* Explicit fields only, or every field when full; the key is "outputLineLength". */
RFC_EXPORT KX_STORE *rfcBaseOptionsStore(RFC_BASE_OPTIONS *bo, kxBool full);
/* Never null: unusable entries leave their field at the default. */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsRestore(KX_STORE *store);

/* The encoding of the buffer: groups of four, "=" padding, lines separated by CR LF, no final CR LF.
 * Never null. */
RFC_EXPORT KX_BUFFER *rfcBaseEncodeWithOptions(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo);
/* Characters outside the alphabet are skipped; the data ends at the first "=". Null only when the
 * characters read form a truncated group (a last group of one character) or the bit length of the buffer
 * is not a multiple of 8. */
/* Length of rfcBaseEncodeWithOptions' result, computed without encoding. */
RFC_EXPORT kxInt rfcBaseEncodedLength(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo);
RFC_EXPORT KX_BUFFER *rfcBaseTryDecodeWithOptions(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo);

KX_EXTERN_C_END

#endif
