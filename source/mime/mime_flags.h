#ifndef MIME_FLAGS_H
#define MIME_FLAGS_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
