#ifndef MIME_SHF_TOKEN_VECTOR_H
#define MIME_SHF_TOKEN_VECTOR_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

KX_EXTERN_C_END

#endif
