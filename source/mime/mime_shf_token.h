/* MIME_SHF_TOKEN: one lexical token of a structured header field value (RFC 822 / RFC 2045), held as its
 * type and its raw value (the text exactly as written in the header, with quotes, brackets, parentheses and
 * backslash escapes). Tokens are immutable. Every function returning an object returns a new reference that
 * the caller releases; arguments are borrowed; a null argument aborts. */
#ifndef MIME_SHF_TOKEN_H
#define MIME_SHF_TOKEN_H

#include <wchar.h>

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

#define MIME_SHF_TOKEN_TYPE_TSPECIAL KX_INT_C(0)       /* one tspecial character */
#define MIME_SHF_TOKEN_TYPE_QUOTED_STRING KX_INT_C(1)  /* "...", inner " and \ escaped */
#define MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL KX_INT_C(2) /* [...], inner [ and ] escaped */
#define MIME_SHF_TOKEN_TYPE_COMMENT KX_INT_C(3)        /* (...), parentheses balanced or escaped */
#define MIME_SHF_TOKEN_TYPE_TOKEN KX_INT_C(4)          /* RFC 2045 token; non-ASCII code points allowed */
#define MIME_SHF_TOKEN_TYPE_OK(type) (KX_CAST(uint64_t, type) <= KX_CAST(uint64_t, MIME_SHF_TOKEN_TYPE_TOKEN))

/* The sort record of MIME_SHF_TOKEN (a permanent static object). */
MIME_EXPORT extern KX_SORT mime___sort_MIME_SHF_TOKEN;

/* --- common object operations (no CreateFrom: tokens have no setters) --- */
MIME_EXPORT KX_SORT *mimeShfTokenSort(void);               /* the sort record; static */
MIME_EXPORT KX_OBJ *mimeShfTokenObj(MIME_SHF_TOKEN *obj);  /* the same pointer; no check, no reference */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenFrom(KX_OBJ *obj); /* null passes; another sort aborts */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenRetain(MIME_SHF_TOKEN *obj); /* returns obj, one more reference */
MIME_EXPORT void mimeShfTokenRelease(MIME_SHF_TOKEN *obj); /* frees the token with its last reference */
MIME_EXPORT KX_STRING *mimeShfTokenToString(MIME_SHF_TOKEN *obj); /* a new string (the kx default form) */
/* The kx default order (identity); null aborts. */
MIME_EXPORT kxInt mimeShfTokenCompare(MIME_SHF_TOKEN *objA, MIME_SHF_TOKEN *objB);
/* True when the two are the same token (the kx default order); null aborts. */
MIME_EXPORT kxBool mimeShfTokenEquals(MIME_SHF_TOKEN *objA, MIME_SHF_TOKEN *objB);

/* --- creation: each returns a new token owned by the caller --- */
/* A TSPECIAL token of the one character; a character that is not a tspecial aborts. */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateTspecial(kxChar tspecial);
/* A TOKEN when the text is a non-empty RFC 2045 token, otherwise a QUOTED_STRING that quotes it (CR, " and
 * \ escaped). The text is copied. */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateTokenOrQuotedString(KX_STRING *tokenOrQuotedString);
/* As mimeShfTokenCreateTokenOrQuotedString, the text given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateTokenOrQuotedStringCstr(const char *tokenOrQuotedString,
                                                                      kxInt length);
/* As mimeShfTokenCreateTokenOrQuotedString, the text given as wide characters, length of them (-1: up to the
 * NUL). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateTokenOrQuotedStringWcstr(const wchar_t *tokenOrQuotedString,
                                                                       kxInt length);
/* A COMMENT that encloses the text in parentheses (CR, LF and every tspecial escaped). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateComment(KX_STRING *comment);
/* As mimeShfTokenCreateComment, the text given as UTF-8 of length octets (-1: up to the NUL). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateCommentCstr(const char *comment, kxInt length);
/* As mimeShfTokenCreateComment, the text given as wide characters, length of them (-1: up to the NUL). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateCommentWcstr(const wchar_t *comment, kxInt length);
/* A token of the type the raw text's shape gives; the token keeps a reference to rawValue itself. Text that
 * fits no shape (empty, a space outside delimiters, an unbalanced comment, ...) aborts: pass only header
 * syntax. */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateRawValue(KX_STRING *rawValue);
/* As mimeShfTokenCreateRawValue, the raw text given as UTF-8 of length octets (-1: up to the NUL) (a new
 * string the token keeps). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateRawValueCstr(const char *rawValue, kxInt length);
/* As mimeShfTokenCreateRawValue, the raw text given as wide characters, length of them (-1: up to the NUL) (a
 * new string the token keeps). */
MIME_EXPORT MIME_SHF_TOKEN *mimeShfTokenCreateRawValueWcstr(const wchar_t *rawValue, kxInt length);

/* --- queries --- */
/* The type, one of MIME_SHF_TOKEN_TYPE_... */
MIME_EXPORT kxInt mimeShfTokenType(MIME_SHF_TOKEN *tok);
/* The raw value; a new reference. */
MIME_EXPORT KX_STRING *mimeShfTokenRawValue(MIME_SHF_TOKEN *tok);
/* The plain value, a new reference: the raw value itself for TSPECIAL and TOKEN; for the delimited types
 * the text between the delimiters with every backslash escape resolved (folds stay as they are). */
MIME_EXPORT KX_STRING *mimeShfTokenValue(MIME_SHF_TOKEN *tok);

/* The sort's free function: releases the raw value. */
MIME_EXPORT void mime___ShfTokenFreeFunc(KX_OBJ *obj);

KX_EXTERN_C_END

#endif
