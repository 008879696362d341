/* Vectors of objects (never null elements). Getters return new references; changers take the address of
 * the caller's reference and copy on write. Null vector arguments abort. */
#ifndef KX_VECTOR_H
#define KX_VECTOR_H

#include "kx/kx_obj.h"

KX_EXTERN_C_BEGIN

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxVectorSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxVectorObj(KX_VECTOR *v);
/* The same pointer as this kind; null passes, another sort aborts; no reference. */
KX_EXPORT KX_VECTOR *kxVectorFrom(KX_OBJ *obj);

/* A new empty vector, owned by the caller. */
KX_EXPORT KX_VECTOR *kxVectorCreate(void);
/* The number of elements. */
KX_EXPORT kxInt kxVectorLength(KX_VECTOR *v);
KX_EXPORT KX_OBJ *kxVectorObjAt(KX_VECTOR *v, kxInt index); /* new reference; index inside v */
/* The elements, borrowed; valid while the caller holds its reference and does not change the vector. */
KX_EXPORT KX_OBJ *const *kxVectorBacking(KX_VECTOR *v);
KX_EXPORT void kxVectorAppendObj(KX_VECTOR **v, KX_OBJ *obj); /* retains obj; null obj aborts */
/* Removes element index (index inside v) and releases it (a shared *v is copied first). */
KX_EXPORT void kxVectorDelAt(KX_VECTOR **v, kxInt index);
/* True when every element is of the sort (true for an empty vector). */
KX_EXPORT kxBool kxVectorContainsOnly(KX_VECTOR *v, KX_SORT *sort);

KX_EXTERN_C_END

#endif
