/* Quoted-printable (RFC 2045 section 6.7) and its options. Every function returning an object returns a
 * new reference the caller releases; arguments are borrowed. Null arguments abort. */
#ifndef RFC_QUOP_H
#define RFC_QUOP_H

#include "rfc/rfc_base.h"

KX_EXTERN_C_BEGIN

typedef struct RFC_QUOP_OPTIONS RFC_QUOP_OPTIONS;

/* --- common object operations --- */
RFC_EXPORT KX_SORT *rfcQuopOptionsSort(void);                 /* the sort record; static */
RFC_EXPORT KX_OBJ *rfcQuopOptionsObj(RFC_QUOP_OPTIONS *qo);   /* the same pointer; no reference */
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsFrom(KX_OBJ *obj); /* null passes; another sort aborts */
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsRetain(RFC_QUOP_OPTIONS *qo); /* returns qo, one more reference */
RFC_EXPORT void rfcQuopOptionsRelease(RFC_QUOP_OPTIONS *qo); /* frees it with its last reference */
/* -1, 0 or 1: an explicit length before the default, then by length; null aborts. */
RFC_EXPORT kxInt rfcQuopOptionsCompare(RFC_QUOP_OPTIONS *a, RFC_QUOP_OPTIONS *b);
/* True when the two compare equal; null aborts. */
RFC_EXPORT kxBool rfcQuopOptionsEquals(RFC_QUOP_OPTIONS *a, RFC_QUOP_OPTIONS *b);

/* A new options object: output line length 76, marker true. */
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsCreate(void);
/* A new copy of source (length and marker); a null source aborts. */
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsCreateFrom(RFC_QUOP_OPTIONS *source);

/* The most characters of an encoded line, the "=" of a soft line break included, CR LF not counted:
 * 4 to 998 (RFC 2045 allows at most 76), or 0 for no soft line breaks. The setter aborts on
 * "length == 0 || (length >= 4 && length <= 998)". */
RFC_EXPORT kxInt rfcQuopOptionsOutputLineLength(RFC_QUOP_OPTIONS *qo);
/* Stores length and clears the marker (copy-on-write: a shared *qo is first replaced by a private copy); a
 * length the kind does not accept aborts. */
RFC_EXPORT void rfcQuopOptionsSetOutputLineLength(RFC_QUOP_OPTIONS **qo, kxInt length);
/* True while the length holds its default, set by creation or by the default setter. */
RFC_EXPORT kxBool rfcQuopOptionsOutputLineLengthDefault(RFC_QUOP_OPTIONS *qo);
/* Puts the length back to its default, 76, and sets the marker (copy-on-write as the setter). */
RFC_EXPORT void rfcQuopOptionsSetOutputLineLengthDefault(RFC_QUOP_OPTIONS **qo);

/* A new store of the explicit fields only, or of every field when full; the key is "outputLineLength". */
RFC_EXPORT KX_STORE *rfcQuopOptionsStore(RFC_QUOP_OPTIONS *qo, kxBool full);
/* A new options object built from the store, never null: a missing or unusable entry leaves the default. A
 * null store aborts. */
RFC_EXPORT RFC_QUOP_OPTIONS *rfcQuopOptionsRestore(KX_STORE *store);

/* A new buffer holding the "quoted-printable" encoding of the buffer: octets 33-60 and 62-126 as they
 * are, SP and HTAB as they are except before a line break or at the end, CR LF as a hard line break, every
 * other octet (a bare CR or LF too) as "=" and two upper-case hex digits; soft line breaks ("=" CR LF) keep
 * every line within the line length and never split an escape. Decoding it gives back the buffer octet for
 * octet. Null only when the bit length is not a multiple of 8 (or the encoding would be longer than the
 * longest buffer). */
RFC_EXPORT KX_BUFFER *rfcQuopEncodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo);
/* rfcQuopEncodeWithOptions' result when it is at most maxLength octets long (maxLength >= 0); null when it
 * would be longer, found without building it where a quick count of the octets escaped wherever they stand
 * already shows it (so that choosing the shorter of two encodings costs little), and null where
 * rfcQuopEncodeWithOptions' result is null. */
RFC_EXPORT KX_BUFFER *rfcQuopTryEncodeWithinLength(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo, kxInt maxLength);
/* A new buffer holding the decoded octets: soft breaks ("=" CR LF or "=" LF, white space allowed before the
 * line break, also "=" at the very end) removed, escapes in either case decoded, SP/HTAB at the end of a
 * line (before CR LF, LF or the end of the text) dropped, a malformed "=" sequence kept as it stands. Null
 * only when the bit length is not a multiple of 8: no text makes it fail. */
RFC_EXPORT KX_BUFFER *rfcQuopTryDecodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo);

/* The length of rfcQuopEncodeWithOptions' result, computed without building it; -1 where that result is
 * null. */
RFC_EXPORT kxInt rfcQuopEncodedLength(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo);

KX_EXTERN_C_END

#endif
