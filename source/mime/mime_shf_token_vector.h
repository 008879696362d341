/* Structured header field values as vectors of MIME_SHF_TOKEN: the folding encoder and the tokenizer. */
#ifndef MIME_SHF_TOKEN_VECTOR_H
#define MIME_SHF_TOKEN_VECTOR_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* Returns the header field value that vec (only MIME_SHF_TOKEN) writes: the raw values in order, separated
 * by nothing (a tspecial of @,;:\"/?= glued between two tokens or quoted strings), one SP, or the fold
 * CR LF SP once the line (counting firstLineOffset code points already written before the value) is longer
 * than mimeOptionsWrapLineLength(mo) (-1: never fold). A new string owned by the caller, never null; "" for
 * an empty vector. Null vec or mo, another sort in vec, or firstLineOffset < 0 abort. */
MIME_EXPORT KX_STRING *mimeShfTokenVectorEncode(KX_VECTOR *vec, MIME_OPTIONS *mo, kxInt firstLineOffset);

/* Appends append to *out with the fold rule: CR LF SP when *curLineLength > wrapLineLength (and
 * wrapLineLength is not -1), otherwise one SP when space is true; then the text. *curLineLength is updated.
 * A length overflow aborts. Internal step of mimeShfTokenVectorEncode. */
MIME_EXPORT void mime___ShfTokenVectorAppend(KX_STRING **out, KX_STRING *append, kxBool space,
                                             kxInt *curLineLength, kxInt wrapLineLength);

/* Returns a new vector of the tokens of string (white space, line breaks and control characters between
 * tokens produce none), owned by the caller; "" gives an empty vector. Returns null when the text is
 * malformed: an unterminated quoted string, domain literal or comment, a final \ inside one, a CR inside
 * one that does not start CR LF SP or CR LF HTAB, an unescaped [ inside a domain literal. Never aborts on
 * content; a null string aborts. */
MIME_EXPORT KX_VECTOR *mimeShfTokenVectorTryDecode(KX_STRING *string);

/* Removes every COMMENT token from the vector *vec, keeping the order of the others. When one is removed,
 * *vec is replaced by a new vector (the old one is released; other holders keep seeing it unchanged). A
 * null vec or *vec, or an element that is not a MIME_SHF_TOKEN, aborts. */
MIME_EXPORT void mimeShfTokenVectorDelComments(KX_VECTOR **vec);

KX_EXTERN_C_END

#endif
