/* The tolerant message reader and MIME_PART, the parts it reads: a message (a header block and a body)
 * becomes a tree of parts, each with its header fields, content type, transfer encoding, body and
 * children, and the defects found reading it. The reader never fails: whatever it reads past is recorded
 * as a defect with the offset of the octet where it was found, and no octet is dropped. Parts are
 * immutable and reference-counted; bodies are slices of the message read, never copies. Every function
 * returning an object returns a new reference that the caller releases; arguments are borrowed; null
 * arguments abort, and so does an index outside its list. */
#ifndef MIME_PART_H
#define MIME_PART_H

#include "mime/mime_defect.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

MIME_EXPORT extern KX_SORT mime___sort_MIME_PART;

/* --- common object operations --- */
MIME_EXPORT KX_SORT *mimePartSort(void);                 /* the sort record; static */
MIME_EXPORT KX_OBJ *mimePartObj(MIME_PART *obj);         /* the same pointer; no check, no reference */
MIME_EXPORT MIME_PART *mimePartFrom(KX_OBJ *obj);        /* null passes; another sort aborts */
MIME_EXPORT MIME_PART *mimePartRetain(MIME_PART *obj);   /* returns obj, one more reference */
MIME_EXPORT void mimePartRelease(MIME_PART *obj);        /* frees the object with its last reference */
MIME_EXPORT KX_STRING *mimePartToString(MIME_PART *obj); /* a new string (the kx default form) */
/* -1, 0 or 1: by offset in the message, then length (parts of one message); identity orders others. */
MIME_EXPORT kxInt mimePartCompare(MIME_PART *objA, MIME_PART *objB);
/* True when the two parts compare equal (the same place of one message); null aborts. */
MIME_EXPORT kxBool mimePartEquals(MIME_PART *objA, MIME_PART *objB);

/* Reads message (a header block, a blank line and a body; lines ended by CR LF or LF alone; an mbox
 * "From " line before the header is skipped) into a tree of parts and returns its root, never null:
 * - content type: the first Content-Type, read as far as it goes; absent or unreadable, text/plain;
 *   charset=us-ascii, or message/rfc822 for a part of a multipart/digest;
 * - multipart/... with a boundary: one child per part between delimiter lines; message/rfc822,
 *   message/global and message/external-body not transfer-encoded: one child, the body read as a message;
 * - the limits of the options (MIME_READER_LIMIT_*) bound fields, parameters, parts and nesting.
 * The parts keep a reference to message, not a copy. */
MIME_EXPORT MIME_PART *mimeMessageRead(KX_BUFFER *message, MIME_OPTIONS *opt);

/* What mimeMessageReadEach hands its visitor: a part that holds no parts, complete; a part that holds
 * parts, before the first of them (with the defects found so far); the same part after the last of them,
 * complete. */
#define MIME_VISIT_LEAF KX_INT_C(0)
#define MIME_VISIT_START KX_INT_C(1)
#define MIME_VISIT_END KX_INT_C(2)

/* Called by mimeMessageReadEach for each part as it is read, with the context given to it (may be null):
 * visit is MIME_VISIT_*, depth 0 for the message, 1 for the parts it holds, and so on. part is borrowed
 * (retain it to keep it). Returns false to stop the reading. */
typedef kxBool (*MIME_PART_VISITOR)(void *context, MIME_PART *part, kxInt visit, kxInt depth);

/* Reads message as mimeMessageRead does, the same parts with the same defects, but hands each part to
 * visitor as it is read instead of building the tree, so that memory holds the parts around the one being
 * read, never the whole tree. The parts come in the order of the message: a part that holds parts as
 * MIME_VISIT_START, then its parts, then MIME_VISIT_END; any other part as MIME_VISIT_LEAF. The parts it
 * hands over hold no children; a START and its END are two objects (the END one complete with the defects
 * found among its parts), each part is handed over once. Returns false when visitor stopped the reading
 * (nothing is handed over after that), else true. */
MIME_EXPORT kxBool mimeMessageReadEach(KX_BUFFER *message, MIME_OPTIONS *opt, MIME_PART_VISITOR visitor,
                                       void *context);

/* Returns a new reference to the part's header fields. */
MIME_EXPORT MIME_HEADER *mimePartHeader(MIME_PART *part);
/* Returns a new reference to the part's content type (never null; see mimeMessageRead). */
MIME_EXPORT MIME_CONTENT_TYPE *mimePartContentType(MIME_PART *part);
/* The transfer encoding (MIME_CONTENT_TRANSFER_ENCODING_*; 7bit when absent), or -1 when it is unknown or
 * malformed: the body is then taken as it is. */
MIME_EXPORT kxInt mimePartContentTransferEncoding(MIME_PART *part);
/* Returns a new reference to the part's first Content-Disposition, read with the options given to
 * mimeMessageRead (the RFC 2231 flag, the header fallback charset, the parameter limit), or null when the
 * part has none. One the strict decoder (mimeContentDispositionTryDecode) refuses is read as far as it goes,
 * with MIME_DEFECT_BAD_CONTENT_DISPOSITION: a quoted string left open runs to the end of the value, and a
 * type that is no token of ASCII reads as "attachment", the type a reader gives one it does not know. */
MIME_EXPORT MIME_CONTENT_DISPOSITION *mimePartContentDisposition(MIME_PART *part);
/* Returns a new string with the disposition type in lower case ("inline", "attachment", ...), or null
 * when the part has no Content-Disposition. */
MIME_EXPORT KX_STRING *mimePartDisposition(MIME_PART *part);
/* Returns a new string with the part's file name: the Content-Disposition "filename" parameter, else the
 * Content-Type "name" parameter, their RFC 2231 form decoded under the options given to mimeMessageRead, and
 * RFC 2047 encoded words decoded; null when there is neither. */
MIME_EXPORT KX_STRING *mimePartFileName(MIME_PART *part);

/* The offset in the message of the part's first octet (the start of its header block). */
MIME_EXPORT kxInt mimePartOffset(MIME_PART *part);
/* The part's length in octets, header block and body. */
MIME_EXPORT kxInt mimePartLength(MIME_PART *part);
/* The offset in the message of the part's body. */
MIME_EXPORT kxInt mimePartBodyOffset(MIME_PART *part);
/* Returns a new buffer with the part's body as it stands (still transfer-encoded): a slice of the message,
 * not a copy. For a multipart, the preamble, parts and epilogue. */
MIME_EXPORT KX_BUFFER *mimePartBody(MIME_PART *part);
/* Returns a new buffer with the body decoded from its transfer encoding, tolerantly: Base64 skips
 * characters outside its alphabet and gives every whole octet of a truncated last group; quoted-printable
 * keeps an "=" that starts no escape as it stands; an identity or unknown encoding gives the body itself.
 * *defect (may be null) receives the first decoding fault, kind -1 when there is none. */
MIME_EXPORT KX_BUFFER *mimePartDecodeBody(MIME_PART *part, MIME_OPTIONS *opt, MIME_DEFECT *defect);

/* The child parts (multipart parts, or the one attached message); none for a leaf. */
MIME_EXPORT kxInt mimePartChildrenLength(MIME_PART *part);
/* Returns a new reference to child index. */
MIME_EXPORT MIME_PART *mimePartChildAt(MIME_PART *part, kxInt index);

/* The number of defects found reading this part (its header block, its values and its structure; not its
 * children's), kept in the order of their offsets within each kind of check. */
MIME_EXPORT kxInt mimePartDefectsLength(MIME_PART *part);
/* The defect at index (0 <= index < mimePartDefectsLength, else abort), by value. */
MIME_EXPORT MIME_DEFECT mimePartDefectAt(MIME_PART *part, kxInt index);

/* The sort's functions. */
MIME_EXPORT void mime___PartFreeFunc(KX_OBJ *obj);
/* The compare function: -1, 0 or 1, as mimePartCompare. */
MIME_EXPORT kxInt mime___PartCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj);

KX_EXTERN_C_END

#endif
