/* MIME_HEADER: a header block as an ordered list of fields, each with its name, its unfolded value and its
 * octets as they stand, and the defects found reading it. Immutable and reference-counted; the appender
 * takes the address of the caller's reference and copies on write. Every function returning an object
 * returns a new reference that the caller releases; arguments are borrowed; null arguments abort, and so
 * does an index outside the list. */
#ifndef MIME_HEADER_H
#define MIME_HEADER_H

#include "mime/mime_defect.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

MIME_EXPORT extern KX_SORT mime___sort_MIME_HEADER;

/* --- common object operations --- */
MIME_EXPORT KX_SORT *mimeHeaderSort(void);                   /* the sort record; static */
MIME_EXPORT KX_OBJ *mimeHeaderObj(MIME_HEADER *obj);         /* the same pointer; no check, no reference */
MIME_EXPORT MIME_HEADER *mimeHeaderFrom(KX_OBJ *obj);        /* null passes; another sort aborts */
MIME_EXPORT MIME_HEADER *mimeHeaderRetain(MIME_HEADER *obj); /* returns obj, one more reference */
MIME_EXPORT void mimeHeaderRelease(MIME_HEADER *obj);        /* frees the object with its last reference */
MIME_EXPORT KX_STRING *mimeHeaderToString(MIME_HEADER *obj); /* a new string (the kx default form) */
/* -1, 0 or 1: by the octets the header writes. */
MIME_EXPORT kxInt mimeHeaderCompare(MIME_HEADER *objA, MIME_HEADER *objB);
/* True when the two headers write the same octets; null aborts. */
MIME_EXPORT kxBool mimeHeaderEquals(MIME_HEADER *objA, MIME_HEADER *objB);

/* Returns a new header without fields, whose values will be read in UTF-8 (else windows-1252). */
MIME_EXPORT MIME_HEADER *mimeHeaderCreate(void);
/* Returns a new copy of source. */
MIME_EXPORT MIME_HEADER *mimeHeaderCreateFrom(MIME_HEADER *source);

/* Reads the header block that starts at offset in octets: fields up to the blank line or the end, lines
 * ended by CR LF or LF alone. Never null, never fails: a line that is not a field ends the block there
 * (MIME_DEFECT_NOT_A_HEADER_FIELD), a field whose octets are not UTF-8 has its value read in the options'
 * header fallback charset (MIME_DEFECT_EIGHT_BIT_HEADER at the first such octet), fields past the options'
 * MIME_READER_LIMIT_HEADER_FIELDS are not listed (MIME_DEFECT_TOO_MANY_HEADER_FIELDS). Defect offsets count
 * from the start of octets. The header keeps a reference to octets, not a copy. *bodyOffset (may be null)
 * receives the offset of the first octet after the block: after its blank line, at the line that is not a
 * field, or the length of octets. offset must lie inside octets or at its end. */
MIME_EXPORT MIME_HEADER *mimeHeaderDecode(KX_BUFFER *octets, kxInt offset, MIME_OPTIONS *opt,
                                          kxInt *bodyOffset);

/* The number of fields. */
MIME_EXPORT kxInt mimeHeaderLength(MIME_HEADER *header);
/* Returns a new string with the name of field index, as it stands (case kept). */
MIME_EXPORT KX_STRING *mimeHeaderNameAt(MIME_HEADER *header, kxInt index);
/* Returns a new string with the value of field index: folds joined (their line ends dropped), white space
 * trimmed at both ends, read in UTF-8, else in the fallback charset. Nothing else is decoded. */
MIME_EXPORT KX_STRING *mimeHeaderValueAt(MIME_HEADER *header, kxInt index);
/* Returns a new buffer with the octets of field index as read or appended, from its name to its last line
 * end (none when the block ended without one). A slice of what the header holds, not a copy. */
MIME_EXPORT KX_BUFFER *mimeHeaderRawAt(MIME_HEADER *header, kxInt index);
/* The index of the first field at or after start named name (ASCII case-insensitive; length -1: up to the
 * NUL), or -1. start may be the length. */
MIME_EXPORT kxInt mimeHeaderFindCstr(MIME_HEADER *header, const char *name, kxInt length, kxInt start);
/* Returns a new string with the value of the first field named name, or null when there is none. */
MIME_EXPORT KX_STRING *mimeHeaderValueCstr(MIME_HEADER *header, const char *name, kxInt length);
/* Returns a new string with the text of field index, for an unstructured field (Subject, Comments,
 * Content-Description, ...): its value as mimeHeaderValueAt gives it (octets that are not UTF-8 read in the
 * fallback charset of the options it was read with), then its RFC 2047 encoded words decoded as
 * mimeEncodedWordDecode decodes them (a malformed word stays as written). */
MIME_EXPORT KX_STRING *mimeHeaderTextAt(MIME_HEADER *header, kxInt index);
/* Returns a new string with the text of the first field named name, or null when there is none. */
MIME_EXPORT KX_STRING *mimeHeaderTextCstr(MIME_HEADER *header, const char *name, kxInt length);

/* The number of defects found reading the header. */
MIME_EXPORT kxInt mimeHeaderDefectsLength(MIME_HEADER *header);
/* The defect at index (0 <= index < mimeHeaderDefectsLength, else abort), by value. */
MIME_EXPORT MIME_DEFECT mimeHeaderDefectAt(MIME_HEADER *header, kxInt index);

/* Appends the field "name: value" CR LF, the value in UTF-8 as it is (folds it holds are kept; none is
 * added). Returns false, *header unchanged, when name is empty or holds a control, a space or a colon, or
 * when value holds a NUL, a CR or LF that is not part of a fold (CR LF then SP or HTAB), a fold at its end,
 * or a code point UTF-8 cannot carry: such a value would end the field early and could forge fields. */
MIME_EXPORT kxBool mimeHeaderTryAppend(MIME_HEADER **header, KX_STRING *name, KX_STRING *value);

/* Returns a new buffer with the header block: every field's octets in order, a field read without a line
 * end given CR LF; without the blank line that ends the block. */
MIME_EXPORT KX_BUFFER *mimeHeaderEncode(MIME_HEADER *header);

/* The sort's functions. */
MIME_EXPORT void mime___HeaderFreeFunc(KX_OBJ *obj);
/* The compare function: -1, 0 or 1 by the octets the headers write. */
MIME_EXPORT kxInt mime___HeaderCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj);

KX_EXTERN_C_END

#endif
