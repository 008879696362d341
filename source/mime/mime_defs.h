/* The kinds, the export macro and the shared integer types of the mime library. */
#ifndef MIME_DEFS_H
#define MIME_DEFS_H

#include "kx/kx.h"
#include "rfc/rfc.h"

#define MIME_EXPORT KX_EXPORT

KX_EXTERN_C_BEGIN

typedef struct MIME_CONTENT_TYPE MIME_CONTENT_TYPE; /* Content-Type value: media type and parameters */
typedef struct MIME_CONTENT_DISPOSITION
    MIME_CONTENT_DISPOSITION;                 /* Content-Disposition value: type and parameters */
typedef struct MIME_ENTITY MIME_ENTITY;       /* wire view: three header field values and a body */
typedef struct MIME_HEADER MIME_HEADER;       /* header block: ordered fields, raw octets kept */
typedef struct MIME_OPTIONS MIME_OPTIONS;     /* settings of every encoder and decoder */
typedef struct MIME_PART MIME_PART;           /* one part of a message read tolerantly */
typedef struct MIME_SHF_TOKEN MIME_SHF_TOKEN; /* one lexical token of a structured header field */

KX_EXTERN_C_END

#endif
