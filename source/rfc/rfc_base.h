/* Base64 (RFC 2045 section 6.8) and its options. Every function returning an object returns a new
 * reference the caller releases; arguments are borrowed. Null arguments abort. */
#ifndef RFC_BASE_H
#define RFC_BASE_H

#include "kx/kx_buffer.h"
#include "kx/kx_store.h"

KX_EXTERN_C_BEGIN

#define RFC_EXPORT KX_EXPORT

/* The Base64 alphabet of RFC 2045 ("A-Za-z0-9+/", "=" padding); the only selector there is. */
#define RFC_BASE_SELECTOR_MIME KX_INT_C(3)
#define RFC_BASE_SELECTOR_OK(sel) ((sel) == RFC_BASE_SELECTOR_MIME)

typedef struct RFC_BASE_OPTIONS RFC_BASE_OPTIONS;

/* --- common object operations --- */
RFC_EXPORT KX_SORT *rfcBaseOptionsSort(void);                 /* the sort record; static */
RFC_EXPORT KX_OBJ *rfcBaseOptionsObj(RFC_BASE_OPTIONS *bo);   /* the same pointer; no reference */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsFrom(KX_OBJ *obj); /* null passes; another sort aborts */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsRetain(RFC_BASE_OPTIONS *bo); /* returns bo, one more reference */
RFC_EXPORT void rfcBaseOptionsRelease(RFC_BASE_OPTIONS *bo); /* frees it with its last reference */
/* -1, 0 or 1: an explicit length before the default, then by length; null aborts. */
RFC_EXPORT kxInt rfcBaseOptionsCompare(RFC_BASE_OPTIONS *a, RFC_BASE_OPTIONS *b);
/* True when the two compare equal; null aborts. */
RFC_EXPORT kxBool rfcBaseOptionsEquals(RFC_BASE_OPTIONS *a, RFC_BASE_OPTIONS *b);

/* A new options object: output line length 0 (no line breaks), marker true. */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsCreate(void);
/* A new copy of source (length and marker); a null source aborts. */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsCreateFrom(RFC_BASE_OPTIONS *source);

/* Characters per encoded line, CR LF between lines; 0: one line. Rounded down to a multiple of 4 when
 * encoding (a line never splits a group); values 1 to 3 count as 4. */
RFC_EXPORT kxInt rfcBaseOptionsOutputLineLength(RFC_BASE_OPTIONS *bo);
/* Copy-on-write: a shared *bo is first replaced by a private copy. "length >= 0" or the call aborts. */
RFC_EXPORT void rfcBaseOptionsSetOutputLineLength(RFC_BASE_OPTIONS **bo, kxInt length);
/* True while the length holds its default, set by creation or by the default setter. */
RFC_EXPORT kxBool rfcBaseOptionsOutputLineLengthDefault(RFC_BASE_OPTIONS *bo);
/* Puts the length back to its default, 0, and sets the marker (copy-on-write as the setter). */
RFC_EXPORT void rfcBaseOptionsSetOutputLineLengthDefault(RFC_BASE_OPTIONS **bo);

/* A new store of the explicit fields only, or of every field when full; the key is "outputLineLength"
 * (an integer). */
RFC_EXPORT KX_STORE *rfcBaseOptionsStore(RFC_BASE_OPTIONS *bo, kxBool full);
/* A new options object built from the store; never null: a missing entry, or one that is not an integer
 * the setter accepts, leaves its field at the default (marker true). A null store aborts. */
RFC_EXPORT RFC_BASE_OPTIONS *rfcBaseOptionsRestore(KX_STORE *store);

/* A new buffer holding the "base64" encoding of the buffer's octets (a partly used last octet is encoded
 * whole): groups of four characters, "=" padding, lines of the configured length separated by CR LF, no
 * CR LF after the last line. Never null. A selector other than RFC_BASE_SELECTOR_MIME aborts. */
RFC_EXPORT KX_BUFFER *rfcBaseEncodeWithOptions(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo);
/* The length of rfcBaseEncodeWithOptions' result for the same arguments, computed without encoding. */
RFC_EXPORT kxInt rfcBaseEncodedLength(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo);
/* A new buffer holding the octets that the "base64" text encodes. Characters outside the alphabet (line
 * breaks among them) are skipped; the data ends at the first "=", and whatever follows it is ignored. Null
 * only when the characters read end in a group of a single character (too few bits for an octet) or the bit
 * length of the buffer is not a multiple of 8. */
RFC_EXPORT KX_BUFFER *rfcBaseTryDecodeWithOptions(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo);

KX_EXTERN_C_END

#endif
