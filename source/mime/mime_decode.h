/* Entity decoding: the wire view of one entity turned back into its structured view. */
#ifndef MIME_DECODE_H
#define MIME_DECODE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* Decodes the entity's three field values and undoes its body's transfer encoding (no
 * Content-Transfer-Encoding field means "binary": the body unchanged). Every given output (body,
 * contentType, contentId; each may be null when unwanted) is cleared first and, on success, receives a new
 * reference owned by the caller, or null where the entity lacks that field or body. Returns true on
 * success; false, with every output null, when a present field or the body does not decode. The entity is
 * never changed. A null entity or opt aborts. */
MIME_EXPORT kxBool mimeDecode(MIME_ENTITY *entity, MIME_OPTIONS *opt, KX_BUFFER **body,
                              MIME_CONTENT_TYPE **contentType, KX_STRING **contentId);

KX_EXTERN_C_END

#endif
