/* Content-Transfer-Encoding: the five RFC 2045 transfer encodings, the header field codec and the test
 * whether a body may travel in an encoding as it is. Every function returning an object returns a new
 * reference the caller releases; arguments are borrowed. */
#ifndef MIME_CONTENT_TRANSFER_ENCODING_H
#define MIME_CONTENT_TRANSFER_ENCODING_H

#include "kx/kx_buffer.h"
#include "kx/kx_string.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

#define MIME_CONTENT_TRANSFER_ENCODING_7BIT KX_INT_C(0)             /* "7bit" */
#define MIME_CONTENT_TRANSFER_ENCODING_8BIT KX_INT_C(1)             /* "8bit" */
#define MIME_CONTENT_TRANSFER_ENCODING_BINARY KX_INT_C(2)           /* "binary" */
#define MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE KX_INT_C(3) /* "quoted-printable" */
#define MIME_CONTENT_TRANSFER_ENCODING_BASE64 KX_INT_C(4)           /* "base64" */
/* True for the five encodings 0 to 4 only (an unsigned comparison: negative values are invalid). */
#define MIME_CONTENT_TRANSFER_ENCODING_OK(cte) \
  (KX_CAST(uint64_t, cte) <= KX_CAST(uint64_t, MIME_CONTENT_TRANSFER_ENCODING_BASE64))

/* The header name of the encoding in lower case ("7bit", ..., "base64"), a new string. An encoding outside
 * 0 to 4 aborts. */
MIME_EXPORT KX_STRING *mimeContentTransferEncodingToString(kxInt cte);
/* The encoding a Content-Transfer-Encoding header field value names (comments ignored, one token or quoted
 * string, ASCII case-insensitive), or -1 when the value is malformed or names none of the five. Never aborts
 * on the text; null cte or mo aborts. */
MIME_EXPORT kxInt mimeContentTransferEncodingTryDecode(KX_STRING *cte, MIME_OPTIONS *mo);
/* The header field value of the encoding, folded by the options as if firstLineOffset code points already
 * stood before it: a new string. An encoding outside 0 to 4, null mo or a negative offset aborts. */
MIME_EXPORT KX_STRING *mimeContentTransferEncodingEncode(kxInt cte, MIME_OPTIONS *mo, kxInt firstLineOffset);
/* 1 when buf may travel in the encoding without being encoded, else 0: binary, quoted-printable and base64
 * take any whole octets; 7bit and 8bit take lines of at most 998 octets, each ended by CR LF, without NUL,
 * bare CR or bare LF (7bit also without octets above 127). A buffer whose bit length is not a multiple of 8
 * gives 0. An encoding outside 0 to 4 or a null buf aborts. */
MIME_EXPORT kxBool mimeContentTransferEncodingCheck(kxInt cte, KX_BUFFER *buf);

KX_EXTERN_C_END

#endif
