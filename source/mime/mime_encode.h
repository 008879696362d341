#ifndef MIME_ENCODE_H
#define MIME_ENCODE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
