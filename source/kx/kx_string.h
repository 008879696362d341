/* Immutable strings of Unicode code points. Changers take the address of the caller's reference and copy
 * on write. Every function returning KX_STRING * returns a new reference the caller releases. Null string
 * arguments abort unless stated otherwise. */
#ifndef KX_STRING_H
#define KX_STRING_H

#include <stdarg.h>
#include <wchar.h>

#include "kx/kx_obj.h"

KX_EXTERN_C_BEGIN

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxStringSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxStringObj(KX_STRING *s);
KX_EXPORT KX_STRING *kxStringFrom(KX_OBJ *obj); /* null passes; another sort aborts */

/* A new empty string, owned by the caller. */
KX_EXPORT KX_STRING *kxStringCreate(void);
/* UTF-8; length -1 means up to the NUL. Invalid sequences (overlong, surrogates, truncated) become U+FFFD. */
KX_EXPORT KX_STRING *kxStringCreateFromCstr(const char *cstr, kxInt length);
/* Wide characters as code points; length -1 means up to the NUL. Values above U+10FFFF and surrogates
 * become U+FFFD. */
KX_EXPORT KX_STRING *kxStringCreateFromWcstr(const wchar_t *wcstr, kxInt length);
/* Code points as given (no validation: lone surrogates and any 32-bit value are kept). */
KX_EXPORT KX_STRING *kxStringCreateFromChars(const kxChar *chars, kxInt length);
/* length code points of s from start; the range must lie inside s. */
KX_EXPORT KX_STRING *kxStringCreateFromInner(KX_STRING *s, kxInt start, kxInt length);
/* printf-like, see kx_format directives: %s, %~s, %o, %~o, %i, %^02!16i (width/flags/base), %lc (C string),
 * %%. */
KX_EXPORT KX_STRING *kxStringCreateFromFormatCstr(const char *format, ...);
/* As kxStringCreateFromFormatCstr, the arguments given as a va_list. */
KX_EXPORT KX_STRING *kxStringCreateFromFormatCstrVa(const char *format, va_list args);

/* The number of code points. */
KX_EXPORT kxInt kxStringLength(KX_STRING *s);
/* The code points; valid while the caller holds its reference and does not change the string. Not
 * NUL-terminated; never null (an empty string gives a valid pointer to nothing). */
KX_EXPORT const kxChar *kxStringBacking(KX_STRING *s);
KX_EXPORT kxChar kxStringCharAt(KX_STRING *s, kxInt index); /* index inside s */
/* UTF-8 (code points that cannot be encoded, i.e. surrogates and values above U+10FFFF, become U+FFFD),
 * NUL-terminated, freed with kxMemFree. *length (may be null) receives the octet count without the NUL. */
KX_EXPORT char *kxStringConvertToCstr(KX_STRING *s, kxInt *length);

/* True when a and b hold the same code points; null aborts. */
KX_EXPORT kxBool kxStringEquals(KX_STRING *a, KX_STRING *b);
/* Compares with a UTF-8 C string (length -1: up to the NUL). */
KX_EXPORT kxBool kxStringEqualsCstr(KX_STRING *s, const char *cstr, kxInt length);
/* True when s holds exactly the length code points at chars. */
KX_EXPORT kxBool kxStringEqualsChars(KX_STRING *s, const kxChar *chars, kxInt length);
/* ASCII case-insensitive comparison with a C string. */
KX_EXPORT kxBool kxStringEqualsCaseFoldCstr(KX_STRING *s, const char *cstr, kxInt length);
/* Index of the first c at or after start, or -1. */
KX_EXPORT kxInt kxStringFindChar(KX_STRING *s, kxChar c, kxInt start);

/* A vector of strings: s cut at each c; at most max pieces (-1: no limit; 0 aborts), the last keeping the
 * rest. An empty s gives one empty piece. */
KX_EXPORT KX_VECTOR *kxStringSplitChar(KX_STRING *s, kxChar c, kxInt max);
/* As kxStringSplitChar, cutting at each occurrence of the whole n-character sequence chars. */
KX_EXPORT KX_VECTOR *kxStringSplitChars(KX_STRING *s, const kxChar *chars, kxInt n, kxInt max);
/* Without leading and trailing SP, HTAB, CR and LF (the same object when nothing is removed). */
KX_EXPORT KX_STRING *kxStringTrim(KX_STRING *s);
/* ASCII letters lower-cased (the same object when nothing changes). */
KX_EXPORT KX_STRING *kxStringToLower(KX_STRING *s);

/* Appends the code points of other (a shared *s is copied first). */
KX_EXPORT void kxStringAppend(KX_STRING **s, KX_STRING *other);
/* Appends one code point (a shared *s is copied first). */
KX_EXPORT void kxStringAppendChar(KX_STRING **s, kxChar c);
/* Appends length code points at chars (a shared *s is copied first). */
KX_EXPORT void kxStringAppendChars(KX_STRING **s, const kxChar *chars, kxInt length);
/* Appends UTF-8 text (length -1: up to the NUL), ill-formed octets as U+FFFD (a shared *s is copied first).
 * */
KX_EXPORT void kxStringAppendCstr(KX_STRING **s, const char *cstr, kxInt length);
/* Appends what kxStringCreateFromFormatCstr makes of format and the arguments. */
KX_EXPORT void kxStringAppendFormatCstr(KX_STRING **s, const char *format, ...);

KX_EXTERN_C_END

#endif
