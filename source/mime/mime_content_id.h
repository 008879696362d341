#ifndef MIME_CONTENT_ID_H
#define MIME_CONTENT_ID_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
