#ifndef MIME_ENTITY_H
#define MIME_ENTITY_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
