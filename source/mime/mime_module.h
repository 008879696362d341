#ifndef MIME_MODULE_H
#define MIME_MODULE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
