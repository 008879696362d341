/* The Content-Disposition value (RFC 2183): a disposition type (lower case; "inline", "attachment" or any
 * other token) and a dictionary of parameters ("filename", "creation-date", "size", ... each kept as text),
 * with its header codec. Every function returning an object returns a new reference the caller releases,
 * unless stated otherwise; arguments are borrowed. Broken preconditions abort through kx___Abort.
 * Parameter keys follow the rule of Content-Type parameter keys (mimeContentTypeParameterKeyOk). */
#ifndef MIME_CONTENT_DISPOSITION_H
#define MIME_CONTENT_DISPOSITION_H

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* The sort record of MIME_CONTENT_DISPOSITION, shared by all dispositions; permanent. */
MIME_EXPORT extern KX_SORT mime___sort_MIME_CONTENT_DISPOSITION;

/* --- common object operations --- */

/* The sort record; static, no reference. */
MIME_EXPORT KX_SORT *mimeContentDispositionSort(void);
/* The same pointer as a kx object; no check, no reference change. */
MIME_EXPORT KX_OBJ *mimeContentDispositionObj(MIME_CONTENT_DISPOSITION *disposition);
/* The same pointer as a disposition; null passes, an object of another sort aborts; no reference change. */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionFrom(KX_OBJ *obj);
/* Adds one reference and returns the object; null aborts. */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionRetain(MIME_CONTENT_DISPOSITION *obj);
/* Drops one reference; the last one frees the object. Null aborts. */
MIME_EXPORT void mimeContentDispositionRelease(MIME_CONTENT_DISPOSITION *obj);
/* A new string: the type, or the type, a space and the parameter dictionary's text form. Null aborts. */
MIME_EXPORT KX_STRING *mimeContentDispositionToString(MIME_CONTENT_DISPOSITION *obj);
/* Negative, 0 or positive: by type first, then by parameters. Null aborts. */
MIME_EXPORT kxInt mimeContentDispositionCompare(MIME_CONTENT_DISPOSITION *objA,
                                                MIME_CONTENT_DISPOSITION *objB);
/* True when the two compare equal. */
MIME_EXPORT kxBool mimeContentDispositionEquals(MIME_CONTENT_DISPOSITION *objA,
                                                MIME_CONTENT_DISPOSITION *objB);
/* A new disposition sharing the type and the parameter dictionary of source (each retained once). */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionCreateFrom(MIME_CONTENT_DISPOSITION *source);

/* The sort's functions, called by kx with objects of this sort. */
MIME_EXPORT void mime___ContentDispositionFreeFunc(KX_OBJ *obj);
/* The compare function: by type, then by the parameter dictionary; negative, 0 or positive. */
MIME_EXPORT kxInt mime___ContentDispositionCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj);
/* The to-string function: a new string, as mimeContentDispositionToString gives it. */
MIME_EXPORT KX_STRING *mime___ContentDispositionToStringFunc(KX_OBJ *obj);

/* --- creating and reading --- */

/* True when type is an RFC 2045 token of ASCII: one or more printable characters, none a tspecial (type not
 * null). */
MIME_EXPORT kxBool mimeContentDispositionTypeOk(KX_STRING *type);
/* A new disposition of the type in lower case and no parameters; a type that fails
 * mimeContentDispositionTypeOk aborts. */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionCreate(KX_STRING *type);
/* As mimeContentDispositionCreate, the type given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionCreateCstr(const char *type, kxInt length);
/* The disposition type (lower case), a new reference. */
MIME_EXPORT KX_STRING *mimeContentDispositionType(MIME_CONTENT_DISPOSITION *disposition);
/* The "filename" parameter (RFC 2231 decoded when it was read so), a new reference; null when there is none.
 * It is the name the sender suggests: a caller that stores the file decides what of it to trust. */
MIME_EXPORT KX_STRING *mimeContentDispositionFilename(MIME_CONTENT_DISPOSITION *disposition);
/* The parameter dictionary itself (shared, not a copy), a new reference. */
MIME_EXPORT KX_DICT *mimeContentDispositionParametersDict(MIME_CONTENT_DISPOSITION *disposition);
/* The number of parameters. */
MIME_EXPORT kxInt mimeContentDispositionParametersLength(MIME_CONTENT_DISPOSITION *disposition);
/* The key at a dictionary position (0 <= index < length), a new reference. */
MIME_EXPORT KX_STRING *mimeContentDispositionParameterKeyAt(MIME_CONTENT_DISPOSITION *disposition,
                                                            kxInt index);
/* The value at a dictionary position (0 <= index < length), a new reference. */
MIME_EXPORT KX_STRING *mimeContentDispositionParameterValueAt(MIME_CONTENT_DISPOSITION *disposition,
                                                              kxInt index);
/* The value stored under the normalised key, a new reference; null when there is none. A key that fails
 * mimeContentTypeParameterKeyOk aborts. */
MIME_EXPORT KX_STRING *mimeContentDispositionParameter(MIME_CONTENT_DISPOSITION *disposition, KX_STRING *key);
/* As mimeContentDispositionParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT KX_STRING *mimeContentDispositionParameterCstr(MIME_CONTENT_DISPOSITION *disposition,
                                                           const char *key, kxInt length);
/* True when a value is stored under the normalised key. */
MIME_EXPORT kxBool mimeContentDispositionHasParameter(MIME_CONTENT_DISPOSITION *disposition, KX_STRING *key);
/* As mimeContentDispositionHasParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT kxBool mimeContentDispositionHasParameterCstr(MIME_CONTENT_DISPOSITION *disposition,
                                                          const char *key, kxInt length);

/* --- changing (copy-on-write: a shared *disposition is first replaced by a private copy) --- */

/* Replaces the type by the type in lower case; a type that fails mimeContentDispositionTypeOk aborts. */
MIME_EXPORT void mimeContentDispositionSetType(MIME_CONTENT_DISPOSITION **disposition, KX_STRING *type);
/* As mimeContentDispositionSetType, the type given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT void mimeContentDispositionSetTypeCstr(MIME_CONTENT_DISPOSITION **disposition, const char *type,
                                                   kxInt length);
/* Stores filename, as given, as the "filename" parameter. */
MIME_EXPORT void mimeContentDispositionSetFilename(MIME_CONTENT_DISPOSITION **disposition,
                                                   KX_STRING *filename);
/* Stores value, as given, under the normalised key, replacing an earlier value. */
MIME_EXPORT void mimeContentDispositionSetParameter(MIME_CONTENT_DISPOSITION **disposition, KX_STRING *key,
                                                    KX_STRING *value);
/* As mimeContentDispositionSetParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT void mimeContentDispositionSetParameterCstr(MIME_CONTENT_DISPOSITION **disposition,
                                                        const char *key, kxInt keyLength, KX_STRING *value);
/* As mimeContentDispositionSetParameter, key and value given as UTF-8 (a length of -1: up to the NUL). */
MIME_EXPORT void mimeContentDispositionSetParameterCstrCstrValue(MIME_CONTENT_DISPOSITION **disposition,
                                                                 const char *key, kxInt keyLength,
                                                                 const char *value, kxInt valueLength);
/* Removes the parameter under the normalised key; an absent key changes nothing. */
MIME_EXPORT void mimeContentDispositionDelParameter(MIME_CONTENT_DISPOSITION **disposition, KX_STRING *key);
/* As mimeContentDispositionDelParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT void mimeContentDispositionDelParameterCstr(MIME_CONTENT_DISPOSITION **disposition,
                                                        const char *key, kxInt length);
/* Removes every parameter. */
MIME_EXPORT void mimeContentDispositionClearParameters(MIME_CONTENT_DISPOSITION **disposition);

/* --- header codec --- */

/* The Content-Disposition header field value of disposition, folded by the options as if firstLineOffset
 * code points already stood on its first line ("Content-Disposition: " is 21): a new string, never null. The
 * parameters are written as mimeContentTypeEncode writes its own: under the RFC 2231 flag a long or
 * non-ASCII file name goes in sections and the extended form (filename*0*=UTF-8''...), and a fold falls only
 * right after a ";" or between two sections. A parameter that cannot be written under the options' flags is
 * left out. A negative firstLineOffset aborts. */
MIME_EXPORT KX_STRING *mimeContentDispositionEncode(MIME_CONTENT_DISPOSITION *disposition, MIME_OPTIONS *mo,
                                                    kxInt firstLineOffset);
/* A new disposition read from a Content-Disposition header field value, or null, with the reason left for
 * mimeLastFailure, when the value does not start with a disposition type (a token of ASCII; comments
 * around it are skipped) or holds an unclosed quoted string or comment. The parameter list after it is read
 * as Content-Type reads its own: malformed parameters never fail the decode, and RFC 2231 sections and
 * extended values (filename*0*=UTF-8''...) are joined and decoded under the parse flag. */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionTryDecode(KX_STRING *contentDisposition,
                                                                      MIME_OPTIONS *mo);
/* The same from the value's UTF-8 octets (length -1: up to the NUL; an ill-formed sequence reads as U+FFFD),
 * without making a string of the value first. A new disposition, or null as
 * mimeContentDispositionTryDecode; null contentDisposition aborts unless length is 0. */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimeContentDispositionTryDecodeCstr(const char *contentDisposition,
                                                                          kxInt length, MIME_OPTIONS *mo);

KX_EXTERN_C_END

#endif
