/* Quoted-printable (RFC 2045 section 6.7) and its options. Every function returning an object returns a
 * new reference the caller releases; arguments are borrowed. Null arguments abort. */
#ifndef RFC_QUOP_H
#define RFC_QUOP_H

#include "rfc/rfc_base.h"

KX_EXTERN_C_BEGIN

typedef struct RFC_QUOP_OPTIONS RFC_QUOP_OPTIONS;

RFC_EXPORT KX_SORT *rfcQuopOptionsSort(void);
RFC_EXPORT KX_OBJ *rfcQuopOptionsObj(RFC_QUOP_OPTIONS *qo);
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsFrom(KX_OBJ *obj);
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsRetain(RFC_QUOP_OPTIONS *qo);
RFC_EXPORT void rfcQuopOptionsRelease(RFC_QUOP_OPTIONS *qo);
RFC_EXPORT kxInt rfcQuopOptionsCompare(RFC_QUOP_OPTIONS *a, RFC_QUOP_OPTIONS *b);
RFC_EXPORT kxBool rfcQuopOptionsEquals(RFC_QUOP_OPTIONS *a, RFC_QUOP_OPTIONS *b);

/* Defaults: output line length 76, marker true. */
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsCreate(void);
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsCreateFrom(RFC_QUOP_OPTIONS *source);

/* The most characters of an encoded line, the "=" of a soft line break included, CR LF not counted;
 * between 4 and 998 (RFC 2045 allows at most 76). */
RFC_EXPORT kxInt rfcQuopOptionsOutputLineLength(RFC_QUOP_OPTIONS *qo);
RFC_EXPORT void rfcQuopOptionsSetOutputLineLength(RFC_QUOP_OPTIONS **qo, kxInt length);
RFC_EXPORT kxBool rfcQuopOptionsOutputLineLengthDefault(RFC_QUOP_OPTIONS *qo);
RFC_EXPORT void rfcQuopOptionsSetOutputLineLengthDefault(RFC_QUOP_OPTIONS **qo);

RFC_EXPORT KX_STORE *rfcQuopOptionsStore(RFC_QUOP_OPTIONS *qo, kxBool full);
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsRestore(KX_STORE *store);

/* The encoding of the buffer; decoding it gives back the buffer octet for octet. Null only when the bit
 * length is not a multiple of 8. */
RFC_EXPORT KX_BUFFER *rfcQuopEncodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo);
/* Soft breaks ("=" CR LF or "=" LF) removed, escapes in either case decoded, SP/HTAB before a line break
 * dropped, a malformed "=" sequence kept as it stands. Null only for a partial last octet. */
RFC_EXPORT KX_BUFFER *rfcQuopTryDecodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo);

/* Length of rfcQuopEncodeWithOptions' result without building it (-1 where that result is null). */
RFC_EXPORT kxInt rfcQuopEncodedLength(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo);

KX_EXTERN_C_END

#endif
