#ifndef MIME_OPTIONS_H
#define MIME_OPTIONS_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
