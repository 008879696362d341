/* The Content-Type value: a media type name (type/subtype, lower case) and a dictionary of parameters, with
 * its header codec. Every function returning an object returns a new reference the caller releases, unless
 * stated otherwise; arguments are borrowed. Broken preconditions abort through kx___Abort. */
#ifndef MIME_CONTENT_TYPE_H
#define MIME_CONTENT_TYPE_H

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* The sort record of MIME_CONTENT_TYPE, shared by all content types; permanent. */
MIME_EXPORT extern KX_SORT mime___sort_MIME_CONTENT_TYPE;

/* --- common object operations --- */

/* The sort record; static, no reference. */
MIME_EXPORT KX_SORT *mimeContentTypeSort(void);
/* The same pointer as a kx object; no check, no reference change. */
MIME_EXPORT KX_OBJ *mimeContentTypeObj(MIME_CONTENT_TYPE *type);
/* The same pointer as a content type; null passes, an object of another sort aborts; no reference change. */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeFrom(KX_OBJ *obj);
/* Adds one reference and returns the object; null aborts. */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeRetain(MIME_CONTENT_TYPE *obj);
/* Drops one reference; the last one frees the object. Null aborts. */
MIME_EXPORT void mimeContentTypeRelease(MIME_CONTENT_TYPE *obj);
/* A new string: the name, or the name, a space and the parameter dictionary's text form. Null aborts. */
MIME_EXPORT KX_STRING *mimeContentTypeToString(MIME_CONTENT_TYPE *obj);
/* Negative, 0 or positive: by name first, then by parameters. Null aborts. */
MIME_EXPORT kxInt mimeContentTypeCompare(MIME_CONTENT_TYPE *objA, MIME_CONTENT_TYPE *objB);
/* True when the two compare equal. */
MIME_EXPORT kxBool mimeContentTypeEquals(MIME_CONTENT_TYPE *objA, MIME_CONTENT_TYPE *objB);
/* A new content type sharing the name and the parameter dictionary of source (each retained once). */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeCreateFrom(MIME_CONTENT_TYPE *source);

/* The sort's functions, called by kx with objects of this sort. */
MIME_EXPORT void mime___ContentTypeFreeFunc(KX_OBJ *obj);
/* The compare function: by name, then by the parameter dictionary; negative, 0 or positive. */
MIME_EXPORT kxInt mime___ContentTypeCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj);
/* The to-string function: a new string, as mimeContentTypeToString gives it. */
MIME_EXPORT KX_STRING *mime___ContentTypeToStringFunc(KX_OBJ *obj);

/* --- names and keys --- */

/* True when name is type "/" subtype, each one or more of A-Z a-z 0-9 + - . _ (name not null). */
MIME_EXPORT kxBool mimeContentTypeNameOk(KX_STRING *name);
/* The name in lower case (new reference); a name that fails mimeContentTypeNameOk aborts. */
MIME_EXPORT KX_STRING *mimeContentTypeNameNormalize(KX_STRING *name);
/* True when key is one or more printable ASCII characters, none of them an RFC 2045 tspecial. */
MIME_EXPORT kxBool mimeContentTypeParameterKeyOk(KX_STRING *key);
/* The key in lower case (new reference); a key that fails mimeContentTypeParameterKeyOk aborts. */
MIME_EXPORT KX_STRING *mimeContentTypeParameterKeyNormalize(KX_STRING *key);

/* --- creating and reading --- */

/* A new content type with the normalised name and no parameters; an unacceptable name aborts. */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeCreate(KX_STRING *name);
/* As mimeContentTypeCreate, the name given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeCreateCstr(const char *name, kxInt length);
/* As mimeContentTypeCreate, the name given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeCreateWcstr(const wchar_t *name, kxInt length);
/* The name (lower case), a new reference. */
MIME_EXPORT KX_STRING *mimeContentTypeName(MIME_CONTENT_TYPE *type);
/* The parameter dictionary itself (shared, not a copy), a new reference. */
MIME_EXPORT KX_DICT *mimeContentTypeParametersDict(MIME_CONTENT_TYPE *type);
/* The number of parameters. */
MIME_EXPORT kxInt mimeContentTypeParametersLength(MIME_CONTENT_TYPE *type);
/* The key at a dictionary position (0 <= index < length), a new reference. */
MIME_EXPORT KX_STRING *mimeContentTypeParameterKeyAt(MIME_CONTENT_TYPE *type, kxInt index);
/* The value at a dictionary position (0 <= index < length), a new reference. */
MIME_EXPORT KX_STRING *mimeContentTypeParameterValueAt(MIME_CONTENT_TYPE *type, kxInt index);
/* The value stored under the normalised key, a new reference; null when there is none. */
MIME_EXPORT KX_STRING *mimeContentTypeParameter(MIME_CONTENT_TYPE *type, KX_STRING *key);
/* As mimeContentTypeParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT KX_STRING *mimeContentTypeParameterCstr(MIME_CONTENT_TYPE *type, const char *key, kxInt length);
/* As mimeContentTypeParameter, the key given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT KX_STRING *mimeContentTypeParameterWcstr(MIME_CONTENT_TYPE *type, const wchar_t *key,
                                                     kxInt length);
/* True when a value is stored under the normalised key. */
MIME_EXPORT kxBool mimeContentTypeHasParameter(MIME_CONTENT_TYPE *type, KX_STRING *key);
/* As mimeContentTypeHasParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT kxBool mimeContentTypeHasParameterCstr(MIME_CONTENT_TYPE *type, const char *key, kxInt length);
/* As mimeContentTypeHasParameter, the key given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT kxBool mimeContentTypeHasParameterWcstr(MIME_CONTENT_TYPE *type, const wchar_t *key,
                                                    kxInt length);

/* --- changing (copy-on-write: a shared *type is first replaced by a private copy) --- */

/* Replaces the name by the normalised name; an unacceptable name aborts. */
MIME_EXPORT void mimeContentTypeSetName(MIME_CONTENT_TYPE **type, KX_STRING *name);
/* As mimeContentTypeSetName, the name given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT void mimeContentTypeSetNameCstr(MIME_CONTENT_TYPE **type, const char *name, kxInt length);
/* As mimeContentTypeSetName, the name given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT void mimeContentTypeSetNameWcstr(MIME_CONTENT_TYPE **type, const wchar_t *name, kxInt length);
/* Stores value, as given, under the normalised key, replacing an earlier value. */
MIME_EXPORT void mimeContentTypeSetParameter(MIME_CONTENT_TYPE **type, KX_STRING *key, KX_STRING *value);
/* As mimeContentTypeSetParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT void mimeContentTypeSetParameterCstr(MIME_CONTENT_TYPE **type, const char *key, kxInt keyLength,
                                                 KX_STRING *value);
/* As mimeContentTypeSetParameter, the key given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT void mimeContentTypeSetParameterWcstr(MIME_CONTENT_TYPE **type, const wchar_t *key,
                                                  kxInt keyLength, KX_STRING *value);
/* As mimeContentTypeSetParameter, key and value given as UTF-8 (a length of -1: up to the NUL). */
MIME_EXPORT void mimeContentTypeSetParameterCstrCstrValue(MIME_CONTENT_TYPE **type, const char *key,
                                                          kxInt keyLength, const char *value,
                                                          kxInt valueLength);
/* As mimeContentTypeSetParameter, the key given as UTF-8 and the value as wide characters (a length of -1: up
 * to the NUL). */
MIME_EXPORT void mimeContentTypeSetParameterCstrWcstrValue(MIME_CONTENT_TYPE **type, const char *key,
                                                           kxInt keyLength, const wchar_t *value,
                                                           kxInt valueLength);
/* As mimeContentTypeSetParameter, the key given as wide characters and the value as UTF-8 (a length of -1: up
 * to the NUL). */
MIME_EXPORT void mimeContentTypeSetParameterWcstrCstrValue(MIME_CONTENT_TYPE **type, const wchar_t *key,
                                                           kxInt keyLength, const char *value,
                                                           kxInt valueLength);
/* As mimeContentTypeSetParameter, key and value given as wide characters (a length of -1: up to the NUL). */
MIME_EXPORT void mimeContentTypeSetParameterWcstrWcstrValue(MIME_CONTENT_TYPE **type, const wchar_t *key,
                                                            kxInt keyLength, const wchar_t *value,
                                                            kxInt valueLength);
/* Removes the parameter under the normalised key; an absent key changes nothing. */
MIME_EXPORT void mimeContentTypeDelParameter(MIME_CONTENT_TYPE **type, KX_STRING *key);
/* As mimeContentTypeDelParameter, the key given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT void mimeContentTypeDelParameterCstr(MIME_CONTENT_TYPE **type, const char *key, kxInt length);
/* As mimeContentTypeDelParameter, the key given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT void mimeContentTypeDelParameterWcstr(MIME_CONTENT_TYPE **type, const wchar_t *key, kxInt length);
/* Removes every parameter. */
MIME_EXPORT void mimeContentTypeClearParameters(MIME_CONTENT_TYPE **type);

/* --- header codec --- */

/* The Content-Type header field value of contentType, folded by the options as if firstLineOffset code points
 * already stood on its first line (a fold only before the media type or right after a ";"; "boundary" never
 * in RFC 2231 form when it is ASCII): a new string, never null. Parameters that cannot be written under the
 * options' flags (non-ASCII without an RFC 2231 or Unicode flag, a CR or LF without the RFC 2231 flag) are
 * left out. */
MIME_EXPORT KX_STRING *mimeContentTypeEncode(MIME_CONTENT_TYPE *contentType, MIME_OPTIONS *mo,
                                             kxInt firstLineOffset);
/* A new content type read from a Content-Type header field value, or null when the text has no valid media
 * type. Malformed parameters never fail the decode; RFC 2231 sections are joined under the parse flag. */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeTryDecode(KX_STRING *contentType, MIME_OPTIONS *mo);
/* The same from the value's UTF-8 octets, as a header block holds them (length -1: up to the NUL; an
 * ill-formed sequence reads as U+FFFD, as kxStringCreateFromCstr reads it), without making a string of the
 * value first. A new content type, or null as mimeContentTypeTryDecode; null contentType aborts unless
 * length is 0. */
MIME_EXPORT MIME_CONTENT_TYPE *mimeContentTypeTryDecodeCstr(const char *contentType, kxInt length,
                                                            MIME_OPTIONS *mo);

KX_EXTERN_C_END

#endif
