/* Entity encoding: the structured view of one entity (body, content type, Content-ID) turned into its wire
 * view, a MIME_ENTITY whose field values are folded header text and whose body is transfer-encoded. */
#ifndef MIME_ENCODE_H
#define MIME_ENCODE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* A new entity, owned by the caller, never null. For a body (may be null) it holds the
 * Content-Transfer-Encoding value and the body: "binary" and the body itself under
 * MIME_FLAG_GENERATE_EIGHT_BIT_BODY, else "7bit" and the body itself when it is 7bit-clean, else the
 * strictly shorter of its quoted-printable and Base64 encodings (Base64 on a tie, always Base64 under
 * MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE). For a contentType (may be null) it holds the encoded
 * Content-Type value, for an optionalContentId (may be null; the bare id) the value "<id>". Nothing given
 * is changed or kept beyond the entity. A null opt or an invalid Content-ID aborts. */
MIME_EXPORT MIME_ENTITY *mimeEncode(MIME_OPTIONS *opt, KX_BUFFER *body, MIME_CONTENT_TYPE *contentType,
                                    KX_STRING *optionalContentId);

KX_EXTERN_C_END

#endif
