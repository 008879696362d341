/* Dictionaries from string keys to objects, visited in ascending code-point order of the key. Lookup and
 * insert are O(log n). Getters return new references; changers take the address of the caller's
 * reference and copy on write. Null arguments abort. */
#ifndef KX_DICT_H
#define KX_DICT_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_DICT KX_DICT;

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxDictSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxDictObj(KX_DICT *d);
/* The same pointer as this kind; null passes, another sort aborts; no reference. */
KX_EXPORT KX_DICT *kxDictFrom(KX_OBJ *obj);

/* A new empty dictionary, owned by the caller. */
KX_EXPORT KX_DICT *kxDictCreate(void);
/* The number of entries. */
KX_EXPORT kxInt kxDictLength(KX_DICT *d);
KX_EXPORT KX_STRING *kxDictKeyAt(KX_DICT *d, kxInt index); /* index inside d */
/* A new reference to the value of entry index (index inside d). */
KX_EXPORT KX_OBJ *kxDictValueAt(KX_DICT *d, kxInt index);
KX_EXPORT KX_OBJ *kxDictStringKey(KX_DICT *d, KX_STRING *key); /* null when absent */
/* True when a value is stored under key. */
KX_EXPORT kxBool kxDictHasStringKey(KX_DICT *d, KX_STRING *key);
KX_EXPORT void kxDictSetStringKey(KX_DICT **d, KX_STRING *key, KX_OBJ *value); /* retains both */
KX_EXPORT void kxDictDelStringKey(KX_DICT **d, KX_STRING *key);                /* absent: no change */
/* Removes every entry (a shared *d is left to its other holders and replaced by a new empty dictionary). */
KX_EXPORT void kxDictClear(KX_DICT **d);

KX_EXTERN_C_END

#endif
