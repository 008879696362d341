/* Reference-counted objects and their sorts. */
#ifndef KX_OBJ_H
#define KX_OBJ_H

#include "kx/kx_defs.h"

KX_EXTERN_C_BEGIN

typedef struct KX_OBJ KX_OBJ;
typedef struct KX_SORT KX_SORT;
typedef struct KX_MODULE KX_MODULE;
typedef struct KX_STRING KX_STRING;
typedef struct KX_VECTOR KX_VECTOR;

typedef void (*KX_FREE_FUNC)(KX_OBJ *obj);
typedef kxInt (*KX_COMPARE_FUNC)(KX_OBJ *a, KX_OBJ *b);
typedef KX_STRING *(*KX_TO_STRING_FUNC)(KX_OBJ *obj);

/* The header at the start of every object. The count is changed only atomically, by kx; a negative count
 * marks a permanent (static) object that retain and release leave alone. */
struct KX_OBJ {
  kxInt kx___refs;
  KX_SORT *kx___sort;
};

#define KX_OBJ_PERMANENT_REFS KX_INT_C(-1)
/* Initialiser of the header of a static object of the given sort record. */
#define KX_OBJ_STATIC_INIT(sortRecord) {KX_OBJ_PERMANENT_REFS, (sortRecord)}

/* A sort record: one static object per kind, shared by all objects of that kind. Empty compare or
 * to-string slots mean the kx defaults (compare by identity, "<NAME@address>"). */
struct KX_SORT {
  KX_OBJ obj;
  KX_MODULE *module;
  const char *name;
  KX_FREE_FUNC freeFunc;
  KX_COMPARE_FUNC compareFunc;
  KX_TO_STRING_FUNC toStringFunc;
  void *reserved[4];
};

KX_EXPORT extern KX_SORT kx___sort_KX_SORT;

/* Allocates size bytes (at least sizeof(KX_OBJ)), zero-filled, with reference count 1 and the sort.
 * Never returns null (aborts when memory is exhausted). */
KX_EXPORT KX_OBJ *kx___ObjCreate(kxInt size, KX_SORT *sort);
/* Runs the sort's free function, then frees the memory. Called by release when the count reaches 0. */
KX_EXPORT void kx___ObjFree(KX_OBJ *obj);
/* The current reference count, read atomically (KX_OBJ_PERMANENT_REFS for static objects). */
KX_EXPORT kxInt kx___ObjRefCount(KX_OBJ *obj);

KX_EXPORT KX_OBJ *kxObjRetain(KX_OBJ *obj); /* null aborts */
KX_EXPORT void kxObjRelease(KX_OBJ *obj);   /* null is a no-op */
KX_EXPORT KX_SORT *kxObjSort(KX_OBJ *obj);  /* null aborts */
/* Negative, 0 or positive. Objects of different sorts order by sort name; null aborts. */
KX_EXPORT kxInt kxObjCompare(KX_OBJ *a, KX_OBJ *b);
/* True when kxObjCompare gives 0; null aborts. */
KX_EXPORT kxBool kxObjEquals(KX_OBJ *a, KX_OBJ *b);
/* A new string; null aborts. */
KX_EXPORT KX_STRING *kxObjToString(KX_OBJ *obj);
/* True when another holder may see the object (count above 1): a changer must copy first. */
KX_EXPORT kxBool kxObjIsShared(KX_OBJ *obj);

/* Releases *ref and sets it to null; a null *ref is a no-op (ref itself must not be null). */
#ifdef __cplusplus
#define kxObjClear(ref) (kxObjRelease(reinterpret_cast<KX_OBJ *>(*(ref))), *(ref) = nullptr)
#else
#define kxObjClear(ref) (kxObjRelease((KX_OBJ *)*(ref)), *(ref) = NULL)
#endif

/* The sort record of sort records; static, no reference. */
KX_EXPORT KX_SORT *kxSortSort(void);
/* The sort's name, a static C string owned by the sort. */
KX_EXPORT const char *kxSortName(KX_SORT *sort);

KX_EXTERN_C_END

#endif
