// Internal to kx and the libraries built on it: dictionary access without the reference traffic of the C
// interface, for code that reads or builds a whole dictionary at once. Not installed.
#pragma once

#include "kx/kx_dict.h"

KX_EXTERN_C_BEGIN

/* One entry of a dictionary. */
typedef struct KX_DICT_ENTRY {
  KX_STRING *key;
  KX_OBJ *value;
} KX_DICT_ENTRY;

/* The entry at index (inside d), borrowed: no new reference; valid while the caller holds d and d does not
 * change. */
KX_EXPORT KX_DICT_ENTRY kx___DictEntryAt(KX_DICT *d, kxInt index);

/* A new dictionary of the count entries, owned by the caller. It takes over the caller's reference to every
 * key and value. The keys must be in ascending code point order, each once; anything else aborts
 * ("keysAscend( previous, key )"), as does a null key or value. One pass, without the lookups of count
 * separate stores. */
KX_EXPORT KX_DICT *kx___DictCreateFromSorted(const KX_DICT_ENTRY *entries, kxInt count);

KX_EXTERN_C_END
