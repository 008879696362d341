/* Stores: nested records of named entries (text, integer or sub-store), kept in the order they were first
 * set; setting an existing key replaces its value in place. A store has a text form that parses back to an
 * equal store, so that settings can be kept in a file. Getters return new references; changers take the
 * address of the caller's reference and copy on write. Keys are C strings (length -1: up to the NUL). */
#ifndef KX_STORE_H
#define KX_STORE_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_STORE KX_STORE;

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxStoreSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxStoreObj(KX_STORE *st);
/* The same pointer as this kind; null passes, another sort aborts; no reference. */
KX_EXPORT KX_STORE *kxStoreFrom(KX_OBJ *obj);

/* A new empty store, owned by the caller. */
KX_EXPORT KX_STORE *kxStoreCreate(void);
/* The number of entries. */
KX_EXPORT kxInt kxStoreLength(KX_STORE *st);
/* A new string holding the key of entry index (0 <= index < length), in the order the keys were first set;
 * the key's octets are read as UTF-8, ill-formed octets as U+FFFD. */
KX_EXPORT KX_STRING *kxStoreKeyAt(KX_STORE *st, kxInt index);

/* Set key to a text, an integer or a sub-store: an existing key keeps its place and takes the new value
 * (of any kind), a new key is appended. Keys are any octets (NUL too, with an explicit length). The value
 * is retained, not copied; a shared *st is copied first. Null st, *st, key or value abort. */
KX_EXPORT void kxStoreSetValueCstr(KX_STORE **st, const char *key, kxInt keyLength, KX_STRING *value);
/* As kxStoreSetValueCstr, the value an integer. */
KX_EXPORT void kxStoreSetValueIntCstr(KX_STORE **st, const char *key, kxInt keyLength, kxInt value);
/* As kxStoreSetValueCstr, the value a sub-store (retained, not copied). */
KX_EXPORT void kxStoreSetStoreCstr(KX_STORE **st, const char *key, kxInt keyLength, KX_STORE *sub);
/* Removes key and its value; an absent key changes nothing (and copies nothing). */
KX_EXPORT void kxStoreDelCstr(KX_STORE **st, const char *key, kxInt keyLength);

/* A new reference to the text under the key; null when the key is absent or holds no text. */
KX_EXPORT KX_STRING *kxStoreValueCstr(KX_STORE *st, const char *key, kxInt keyLength);
/* True and *value set when the key holds an integer; false (and *value untouched) otherwise. */
KX_EXPORT kxBool kxStoreValueIntCstr(KX_STORE *st, const char *key, kxInt keyLength, kxInt *value);
/* A new reference to the sub-store under the key; null when absent or not a store. */
KX_EXPORT KX_STORE *kxStoreStoreCstr(KX_STORE *st, const char *key, kxInt keyLength);

/* A new string with the text form, also the store's kxObjToString: one line per entry, `key = "text"`,
 * `key = 76` or `key {` with the sub-store's lines indented and `}`; keys that are not made of letters,
 * digits, '_', '-' and '.' are quoted; quoted text escapes '"', '\\', controls and invisible characters
 * (\n, \t, \u{2028}, ...), and keys escape octets that are not UTF-8 (\xFF). Any store survives
 * kxStoreTryDecode exactly, and the text needs nothing but UTF-8 to be kept in a file. */
KX_EXPORT KX_STRING *kxStoreEncode(KX_STORE *st);
/* A new store parsed from the text form, which may also hold blank lines, '#' comments to the end of a line,
 * any indentation and CR LF line ends; a key given twice keeps its first place and its last value. Null
 * for any text that is not a text form; never aborts on content, whatever its size or nesting depth. */
KX_EXPORT KX_STORE *kxStoreTryDecode(KX_STRING *text);

KX_EXTERN_C_END

#endif
