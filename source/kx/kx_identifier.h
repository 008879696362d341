/* Identifiers: 128 random bits from the kernel; text form 32 lower-case hexadecimal digits. */
#ifndef KX_IDENTIFIER_H
#define KX_IDENTIFIER_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_IDENTIFIER KX_IDENTIFIER;

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxIdentifierSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxIdentifierObj(KX_IDENTIFIER *id);
/* The same pointer as this kind; null passes, another sort aborts; no reference. */
KX_EXPORT KX_IDENTIFIER *kxIdentifierFrom(KX_OBJ *obj);
/* A new identifier, owned by the caller: 128 bits from getrandom(2), never from the per-thread random
 * source. kxObjToString gives its 32 hex digits; kxObjCompare orders by the bits, as the texts order. */
KX_EXPORT KX_IDENTIFIER *kxIdentifierCreate(void);

KX_EXTERN_C_END

#endif
