/* Content-ID: a non-empty string free of control characters, carried in its header field between angle
 * brackets. Every function returning an object returns a new reference the caller releases; arguments are
 * borrowed. */
#ifndef MIME_CONTENT_ID_H
#define MIME_CONTENT_ID_H

#include "kx/kx_string.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* 1 when cid is at least one code point long and holds no control character (0x00-0x1F, 0x7F), else 0.
 * Spaces, tspecials and non-ASCII are allowed. A null cid aborts. */
MIME_EXPORT kxBool mimeContentIdOk(KX_STRING *cid);
/* A new Content-ID never made before: the text of one fresh identifier, "@", the text of another. No angle
 * brackets. */
MIME_EXPORT KX_STRING *mimeContentIdGenerate(void);
/* The header field value "<" cid ">", a new string, never folded. A cid that fails mimeContentIdOk aborts. */
MIME_EXPORT KX_STRING *mimeContentIdEncode(KX_STRING *cid);
/* The Content-ID between the angle brackets of a header field value (SP and HTAB around them ignored), a new
 * string, or null when the value is not "<" Content-ID ">". A null raw aborts. */
MIME_EXPORT KX_STRING *mimeContentIdTryDecode(KX_STRING *raw);

KX_EXTERN_C_END

#endif
