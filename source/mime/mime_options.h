/* MIME_OPTIONS: every setting of the encoders and decoders (MIME flags, fold length, RFC 2231 charset and
 * section length, Base64 and quoted-printable codec options). Each field carries a marker that is true while
 * it holds its default. Setters take the address of the caller's reference and copy on write; a null object,
 * address or reference aborts ("mo", "*mo"). Every function returning an object returns a new reference
 * that the caller releases; arguments are borrowed. */
#ifndef MIME_OPTIONS_H
#define MIME_OPTIONS_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

#define MIME_OPTIONS_DEFAULT_FLAGS KX_INT_C(3) /* MIME_FLAG_PARSE_RFC2231_HEADERS | ..._GENERATE_... */
#define MIME_OPTIONS_DEFAULT_WRAP_LINE_LENGTH KX_INT_C(76)
#define MIME_OPTIONS_DEFAULT_RFC2231_CHARSET KX_INT_C(44) /* KX_CHARSET_UTF_8, the charset of header text */
#define MIME_OPTIONS_DEFAULT_RFC2231_MAX_SEGMENT_LENGTH KX_INT_C(60)
#define MIME_OPTIONS_DEFAULT_BASE_OUTPUT_LINE_LENGTH KX_INT_C(76)
#define MIME_OPTIONS_DEFAULT_HEADER_FALLBACK_CHARSET KX_INT_C(17) /* windows-1252 */

/* The limits of the message reader (mimeMessageRead), each a count; past one the reader records a defect
 * and goes on without what lies beyond. */
#define MIME_READER_LIMIT_HEADER_FIELDS KX_INT_C(0) /* header fields listed per part; default 10,000 */
#define MIME_READER_LIMIT_PARAMETERS KX_INT_C(1)    /* parameters read per field; default 1,000 */
#define MIME_READER_LIMIT_PARTS KX_INT_C(2)         /* parts per message; default 100,000 */
#define MIME_READER_LIMIT_DEPTH KX_INT_C(3)         /* nesting depth below the message; default 100 */
#define MIME_READER_LIMIT_COUNT KX_INT_C(4)
#define MIME_READER_LIMIT_OK(which) (KX_CAST(uint64_t, which) < KX_CAST(uint64_t, MIME_READER_LIMIT_COUNT))

/* The sort record of MIME_OPTIONS (a permanent static object). */
MIME_EXPORT extern KX_SORT mime___sort_MIME_OPTIONS;

/* --- common object operations --- */
MIME_EXPORT KX_SORT *mimeOptionsSort(void);                     /* the sort record; static */
MIME_EXPORT KX_OBJ *mimeOptionsObj(MIME_OPTIONS *obj);          /* the same pointer; no check, no reference */
MIME_EXPORT MIME_OPTIONS *mimeOptionsFrom(KX_OBJ *obj);         /* null passes; another sort aborts */
MIME_EXPORT MIME_OPTIONS *mimeOptionsRetain(MIME_OPTIONS *obj); /* returns obj, one more reference */
MIME_EXPORT void mimeOptionsRelease(MIME_OPTIONS *obj);         /* frees the object with its last reference */
MIME_EXPORT KX_STRING *mimeOptionsToString(MIME_OPTIONS *obj);  /* a new string (the kx default form) */
/* -1, 0 or 1 (order under mime___OptionsCompFunc); null aborts. */
MIME_EXPORT kxInt mimeOptionsCompare(MIME_OPTIONS *objA, MIME_OPTIONS *objB);
/* True when the two compare equal (every field and marker alike); null aborts. */
MIME_EXPORT kxBool mimeOptionsEquals(MIME_OPTIONS *objA, MIME_OPTIONS *objB);

/* Returns a new options object with every field at its default (markers true). */
MIME_EXPORT MIME_OPTIONS *mimeOptionsCreate(void);
/* Returns a new copy of source (every field; codec options shared). A null source aborts. */
MIME_EXPORT MIME_OPTIONS *mimeOptionsCreateFrom(MIME_OPTIONS *source);

/* --- flags: stored normalised (mimeFlagsNormalize); default 3 --- */
/* Returns the MIME flags (MIME_FLAG_*), normalised. A null mo aborts. */
MIME_EXPORT kxInt mimeOptionsFlags(MIME_OPTIONS *mo);
/* Stores mimeFlagsNormalize(flags) and clears the field's marker; any value is accepted. */
MIME_EXPORT void mimeOptionsSetFlags(MIME_OPTIONS **mo, kxInt flags);
/* Returns true while the flags hold their default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsFlagsDefault(MIME_OPTIONS *mo);
/* Puts the flags back to MIME_OPTIONS_DEFAULT_FLAGS and sets the marker. */
MIME_EXPORT void mimeOptionsSetFlagsDefault(MIME_OPTIONS **mo);

/* --- fold length of header values: -1 (never fold) or more; default 76 --- */
/* Returns the fold length of header values (-1: never fold). A null mo aborts. */
MIME_EXPORT kxInt mimeOptionsWrapLineLength(MIME_OPTIONS *mo);
/* Stores wrapLineLength and clears the marker; below -1 aborts ("wrapLineLength >= -1"). */
MIME_EXPORT void mimeOptionsSetWrapLineLength(MIME_OPTIONS **mo, kxInt wrapLineLength);
/* Returns true while the fold length holds its default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsWrapLineLengthDefault(MIME_OPTIONS *mo);
/* Puts the fold length back to 76 and sets the marker. */
MIME_EXPORT void mimeOptionsSetWrapLineLengthDefault(MIME_OPTIONS **mo);

/* --- RFC 2231 charset: KX_CHARSET_OK (0 to 50); default 44 --- */
/* Returns the charset RFC 2231 values are encoded in (a KX_CHARSET_*). A null mo aborts. */
MIME_EXPORT kxInt mimeOptionsRfc2231Charset(MIME_OPTIONS *mo);
/* Stores charset and clears the marker; a charset outside KX_CHARSET_OK aborts. */
MIME_EXPORT void mimeOptionsSetRfc2231Charset(MIME_OPTIONS **mo, kxInt charset);
/* Returns true while the RFC 2231 charset holds its default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsRfc2231CharsetDefault(MIME_OPTIONS *mo);
/* Puts the RFC 2231 charset back to UTF-8 (44) and sets the marker. */
MIME_EXPORT void mimeOptionsSetRfc2231CharsetDefault(MIME_OPTIONS **mo);

/* --- RFC 2231 section length: -1 (never split) or 1 and more; default 60 --- */
/* Returns the longest RFC 2231 section in characters (-1: never split). A null mo aborts. */
MIME_EXPORT kxInt mimeOptionsRfc2231MaxSegmentLength(MIME_OPTIONS *mo);
/* Stores maxSegmentLength and clears the marker; 0 or below -1 aborts. */
MIME_EXPORT void mimeOptionsSetRfc2231MaxSegmentLength(MIME_OPTIONS **mo, kxInt maxSegmentLength);
/* Returns true while the section length holds its default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsRfc2231MaxSegmentLengthDefault(MIME_OPTIONS *mo);
/* Puts the section length back to 60 and sets the marker. */
MIME_EXPORT void mimeOptionsSetRfc2231MaxSegmentLengthDefault(MIME_OPTIONS **mo);

/* --- Base64 codec options: never null; default a new object with output line length 76 --- */
/* Returns a new reference to the field. */
MIME_EXPORT RFC_BASE_OPTIONS *mimeOptionsRfcBaseOptions(MIME_OPTIONS *mo);
/* Stores bo (retained; the caller keeps its reference). A null bo aborts. */
MIME_EXPORT void mimeOptionsSetRfcBaseOptions(MIME_OPTIONS **mo, RFC_BASE_OPTIONS *bo);
/* Returns true while the Base64 options hold their default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsRfcBaseOptionsDefault(MIME_OPTIONS *mo);
/* Stores a fresh default object (never the one it replaces). */
MIME_EXPORT void mimeOptionsSetRfcBaseOptionsDefault(MIME_OPTIONS **mo);

/* --- quoted-printable codec options: never null; default a new rfcQuopOptionsCreate() object --- */
/* Returns a new reference to the field. */
MIME_EXPORT RFC_QUOP_OPTIONS *mimeOptionsRfcQuopOptions(MIME_OPTIONS *mo);
/* Stores qo (retained; the caller keeps its reference). A null qo aborts. */
MIME_EXPORT void mimeOptionsSetRfcQuopOptions(MIME_OPTIONS **mo, RFC_QUOP_OPTIONS *qo);
/* Returns true while the quoted-printable options hold their default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsRfcQuopOptionsDefault(MIME_OPTIONS *mo);
/* Stores a fresh default object (never the one it replaces). */
MIME_EXPORT void mimeOptionsSetRfcQuopOptionsDefault(MIME_OPTIONS **mo);

/* --- header fallback charset: KX_CHARSET_OK (0 to 50); default 17 (windows-1252) --- */
/* Returns the charset header octets are read in where they are not UTF-8 (the reader records a defect for
 * each). A null mo aborts. */
MIME_EXPORT kxInt mimeOptionsHeaderFallbackCharset(MIME_OPTIONS *mo);
/* Stores charset and clears the marker; a charset outside KX_CHARSET_OK aborts. */
MIME_EXPORT void mimeOptionsSetHeaderFallbackCharset(MIME_OPTIONS **mo, kxInt charset);
/* Returns true while the fallback charset holds its default. A null mo aborts. */
MIME_EXPORT kxBool mimeOptionsHeaderFallbackCharsetDefault(MIME_OPTIONS *mo);
/* Puts the fallback charset back to windows-1252 (17) and sets the marker. */
MIME_EXPORT void mimeOptionsSetHeaderFallbackCharsetDefault(MIME_OPTIONS **mo);

/* --- reader limits: `which` is MIME_READER_LIMIT_OK, a limit is 0 or more --- */
/* Returns the reader limit `which` (a MIME_READER_LIMIT_*); another `which` or a null mo aborts. */
MIME_EXPORT kxInt mimeOptionsReaderLimit(MIME_OPTIONS *mo, kxInt which);
/* Stores limit as the reader limit `which` and clears its marker; a negative limit aborts. */
MIME_EXPORT void mimeOptionsSetReaderLimit(MIME_OPTIONS **mo, kxInt which, kxInt limit);
/* Returns true while the reader limit `which` holds its default. */
MIME_EXPORT kxBool mimeOptionsReaderLimitDefault(MIME_OPTIONS *mo, kxInt which);
/* Puts the reader limit `which` back to its default (see MIME_READER_LIMIT_*) and sets its marker. */
MIME_EXPORT void mimeOptionsSetReaderLimitDefault(MIME_OPTIONS **mo, kxInt which);

/* --- persistence --- */
/* Returns a new store with the keys "flags", "wrapLineLength", "rfc2231Charset", "rfc2231MaxSegmentLength",
 * "rfcBaseOptions", "rfcQuopOptions", "headerFallbackCharset", "readerMaxHeaderFields",
 * "readerMaxParameters", "readerMaxParts", "readerMaxDepth" in this order: only the explicit fields, or every
 * field when full. kxStoreEncode gives its text form for a file. */
MIME_EXPORT KX_STORE *mimeOptionsStore(MIME_OPTIONS *mo, kxBool full);
/* Returns new options built from store: each present, usable entry is set explicitly; anything missing,
 * of the wrong kind or out of range leaves its field at the default. Never null; a null store aborts. */
MIME_EXPORT MIME_OPTIONS *mimeOptionsRestore(KX_STORE *store);

/* The sort's free function: releases both codec option objects of the dying object. */
MIME_EXPORT void mime___OptionsFreeFunc(KX_OBJ *obj);
/* The sort's compare function: field by field, marker before value; returns -1, 0 or 1 (or kxObjCompare
 * of the codec options). A null object aborts ("thisObj", "thatObj"). */
MIME_EXPORT kxInt mime___OptionsCompFunc(KX_OBJ *thisObj, KX_OBJ *thatObj);

KX_EXTERN_C_END

#endif
