#ifndef MIME_MULTIPART_H
#define MIME_MULTIPART_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
