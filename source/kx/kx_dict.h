/* Dictionaries from string keys to objects, visited in ascending code-point order of the key. Lookup and
 * insert are O(log n). Getters return new references; changers take the address of the caller's
 * reference and copy on write. Null arguments abort. */
#ifndef KX_DICT_H
#define KX_DICT_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_DICT KX_DICT;

KX_EXPORT KX_SORT *kxDictSort(void);
KX_EXPORT KX_OBJ *kxDictObj(KX_DICT *d);
KX_EXPORT KX_DICT *kxDictFrom(KX_OBJ *obj);

KX_EXPORT KX_DICT *kxDictCreate(void);
KX_EXPORT kxInt kxDictLength(KX_DICT *d);
KX_EXPORT KX_STRING *kxDictKeyAt(KX_DICT *d, kxInt index); /* index inside d */
KX_EXPORT KX_OBJ *kxDictValueAt(KX_DICT *d, kxInt index);
KX_EXPORT KX_OBJ *kxDictStringKey(KX_DICT *d, KX_STRING *key); /* null when absent */
KX_EXPORT kxBool kxDictHasStringKey(KX_DICT *d, KX_STRING *key);
KX_EXPORT void kxDictSetStringKey(KX_DICT **d, KX_STRING *key, KX_OBJ *value); /* retains both */
KX_EXPORT void kxDictDelStringKey(KX_DICT **d, KX_STRING *key);                /* absent: no change */
KX_EXPORT void kxDictClear(KX_DICT **d);

KX_EXTERN_C_END

#endif
