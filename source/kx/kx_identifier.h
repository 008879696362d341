/* Identifiers: 128 random bits from the kernel; text form 32 lower-case hexadecimal digits. */
#ifndef KX_IDENTIFIER_H
#define KX_IDENTIFIER_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_IDENTIFIER KX_IDENTIFIER;

KX_EXPORT KX_SORT *kxIdentifierSort(void);
KX_EXPORT KX_OBJ *kxIdentifierObj(KX_IDENTIFIER *id);
KX_EXPORT KX_IDENTIFIER *kxIdentifierFrom(KX_OBJ *obj);
KX_EXPORT KX_IDENTIFIER *kxIdentifierCreate(void); /* new reference */

KX_EXTERN_C_END

#endif
