#ifndef MIME_CHAR_H
#define MIME_CHAR_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
