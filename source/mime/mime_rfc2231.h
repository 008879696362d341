#ifndef MIME_RFC2231_H
#define MIME_RFC2231_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
