#ifndef MIME_CONTENT_TYPE_H
#define MIME_CONTENT_TYPE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
