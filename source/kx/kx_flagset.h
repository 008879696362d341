/* Flagsets: maps between flag names and bit values, for the text form of 64-bit bit sets. */
#ifndef KX_FLAGSET_H
#define KX_FLAGSET_H

#include "kx/kx_string.h"

KX_EXTERN_C_BEGIN

typedef struct KX_FLAGSET KX_FLAGSET;

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxFlagsetSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxFlagsetObj(KX_FLAGSET *fs);
/* The same pointer as this kind; null passes, another sort aborts; no reference. */
KX_EXPORT KX_FLAGSET *kxFlagsetFrom(KX_OBJ *obj);

/* A new empty flagset, owned by the caller. */
KX_EXPORT KX_FLAGSET *kxFlagsetCreate(void);
/* True when the flagset defines name (exact, case-sensitive; length -1: up to the NUL). */
KX_EXPORT kxBool kxFlagsetHasFlagCstr(KX_FLAGSET *fs, const char *name, kxInt length);
/* Defines name (a non-empty identifier: ASCII letters, digits, '_') with the value (one or more bits, not
 * 0); a name defined before takes the new value. A shared *fs is copied first. */
KX_EXPORT void kxFlagsetSetFlagCstr(KX_FLAGSET **fs, const char *name, kxInt length, kxInt value);
/* A new string with the names of the flags whose bits are all set in flags, in ascending order of value
 * (unsigned, then by name), separated by ", " (the empty string for no flags). Bits no flag covers are not
 * written. */
KX_EXPORT KX_STRING *kxFlagsetGenerate(KX_FLAGSET *fs, kxInt flags);
/* The union of the flags named in text (names separated by commas, '|' and/or white space). Names the
 * flagset does not define contribute nothing; never fails. Inverts kxFlagsetGenerate. */
KX_EXPORT kxInt kxFlagsetParse(KX_FLAGSET *fs, KX_STRING *text);

KX_EXTERN_C_END

#endif
