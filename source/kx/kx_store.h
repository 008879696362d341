/* Stores: nested records of named entries (text, integer or sub-store), kept in the order they were first
 * set; setting an existing key replaces its value in place. A store has a text form that parses back to an
 * equal store, so that settings can be kept in a file. Getters return new references; changers take the
 * address of the caller's reference and copy on write. Keys are C strings (length -1: up to the NUL). */
#ifndef KX_STORE_H
#define KX_STORE_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_STORE KX_STORE;

KX_EXPORT KX_SORT *kxStoreSort(void);
KX_EXPORT KX_OBJ *kxStoreObj(KX_STORE *st);
KX_EXPORT KX_STORE *kxStoreFrom(KX_OBJ *obj);

KX_EXPORT KX_STORE *kxStoreCreate(void);
KX_EXPORT kxInt kxStoreLength(KX_STORE *st);
KX_EXPORT KX_STRING *kxStoreKeyAt(KX_STORE *st, kxInt index); /* in the order the keys were first set */

KX_EXPORT void kxStoreSetValueCstr(KX_STORE **st, const char *key, kxInt keyLength, KX_STRING *value);
KX_EXPORT void kxStoreSetValueIntCstr(KX_STORE **st, const char *key, kxInt keyLength, kxInt value);
KX_EXPORT void kxStoreSetStoreCstr(KX_STORE **st, const char *key, kxInt keyLength, KX_STORE *sub);
KX_EXPORT void kxStoreDelCstr(KX_STORE **st, const char *key, kxInt keyLength);

/* The text under the key; null when the key is absent or holds no text. */
KX_EXPORT KX_STRING *kxStoreValueCstr(KX_STORE *st, const char *key, kxInt keyLength);
/* True and *value set when the key holds an integer; false (and *value untouched) otherwise. */
KX_EXPORT kxBool kxStoreValueIntCstr(KX_STORE *st, const char *key, kxInt keyLength, kxInt *value);
/* The sub-store under the key; null when absent or not a store. */
KX_EXPORT KX_STORE *kxStoreStoreCstr(KX_STORE *st, const char *key, kxInt keyLength);

/* The text form: one line per entry, nested stores indented; exact round trip through kxStoreTryDecode. */
KX_EXPORT KX_STRING *kxStoreEncode(KX_STORE *st);
/* Parses the text form; null for any text that is not one (never aborts on content). */
KX_EXPORT KX_STORE *kxStoreTryDecode(KX_STRING *text);

KX_EXTERN_C_END

#endif
