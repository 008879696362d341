/* RFC 2231 parameter codec: converts a whole parameter dictionary between its ordinary form (one entry per
 * parameter, plain text) and its RFC 2231 form (numbered sections, charset prefix, percent escapes). Internal
 * to the library; the Content-Type header codec is its user. */
#ifndef MIME_RFC2231_H
#define MIME_RFC2231_H

#include "kx/kx_dict.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* A new dictionary in RFC 2231 form, owned by the caller: every value ASCII and free of CR and LF, values
 * longer than the options' segment length cut into sections, non-ASCII values and values holding CR or LF in
 * the extended form in the options' charset (sections end between characters, the first holds one at least).
 * Entries whose key is not an RFC 2231 attribute, or whose value the charset cannot hold, are left out.
 * source is only read; null source or mo aborts. */
MIME_EXPORT KX_DICT *mime___Rfc2231Encode(KX_DICT *source, MIME_OPTIONS *mo);

/* A new dictionary in ordinary form, owned by the caller: sections joined, extended values decoded. Entries
 * that cannot be decoded (bad attribute, unknown charset, text above U+00FF, limits exceeded) are left out;
 * the decode as a whole never fails. source is only read; null source or mo aborts. */
MIME_EXPORT KX_DICT *mime___Rfc2231Decode(KX_DICT *source, MIME_OPTIONS *mo);

KX_EXTERN_C_END

#endif
