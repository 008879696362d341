/* Multipart bodies (RFC 2046): boundaries, the delimiter search, packing a vector of entities into one body
 * and unpacking such a body into entities again.
 *
 * Ownership: every function that returns an object returns a new reference the caller releases; arguments
 * are borrowed and never kept. Broken preconditions abort; bad octets never do. */
#ifndef MIME_MULTIPART_H
#define MIME_MULTIPART_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* True when boundary is a valid RFC 2046 boundary: 1 to 70 bchars characters, the last not a space.
 * A null boundary aborts. */
MIME_EXPORT kxBool mimeMultipartBoundaryOk(KX_STRING *boundary);

/* A new string of 10 random letters and digits, owned by the caller; always a valid boundary. */
MIME_EXPORT KX_STRING *mimeMultipartBoundaryGenerate(void);

/* Internal to the library (exported for its tests): the offset of the first delimiter ("--" and the
 * boundary) at or after offset in buf, counting only a delimiter at the very start of buf (offset 0) or
 * right after a CR LF, in which case the offset of that CR is returned; -1 when there is none. What follows
 * the delimiter is not looked at. An invalid boundary, a null buf or an offset outside buf aborts. */
MIME_EXPORT kxInt mime___MultipartFindDelimiter(KX_STRING *boundary, KX_BUFFER *buf, kxInt offset);

/* Joins the entities, in order, into one multipart body: per entity a delimiter line, its header fields
 * (Content-Type, Content-Transfer-Encoding, Content-Id), a blank line and its body; then the close
 * delimiter. The "boundary" parameter of *contentType is kept when it is valid and begins no line of any
 * body, else replaced by a generated one; on success *contentType is set (copy-on-write) to carry the
 * boundary used. Returns a new buffer owned by the caller, or null, with *contentType unchanged, when ten
 * boundaries collided with the bodies or when a field value cannot be written as header lines (it holds
 * a CR or LF that is not part of a fold CR LF SP/HTAB, or a code point UTF-8 cannot carry).
 * Null contentType, *contentType or opt, an empty vector or a non-entity element aborts. */
MIME_EXPORT KX_BUFFER *mimeMultipartTryPack(MIME_CONTENT_TYPE **contentType, KX_VECTOR *entities,
                                            MIME_OPTIONS *opt);

/* Splits a multipart body at the delimiter lines of the "boundary" parameter of *contentType.
 * Returns a new vector of MIME_ENTITY (one per part, field values unfolded, bodies still transfer-encoded
 * and sharing content's storage), owned by the caller, or null when the body is not a well-formed
 * multipart body for that boundary. Nothing it is given is changed or kept.
 * Null contentType, *contentType, content or opt aborts. */
MIME_EXPORT KX_VECTOR *mimeMultipartTryUnpack(MIME_CONTENT_TYPE **contentType, KX_BUFFER *content,
                                              MIME_OPTIONS *opt);

KX_EXTERN_C_END

#endif
