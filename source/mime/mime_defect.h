/* Defects: what the tolerant readers (mimeHeaderDecode, mimeMessageRead) found wrong in their input and
 * read past. Each is a kind and the offset of the octet, in the buffer read, where it was found. */
#ifndef MIME_DEFECT_H
#define MIME_DEFECT_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* header blocks */
/* octets that are not UTF-8 (the value is read in the fallback charset) */
#define MIME_DEFECT_EIGHT_BIT_HEADER KX_INT_C(0)
/* a line that is not a field: it and what follows are the body */
#define MIME_DEFECT_NOT_A_HEADER_FIELD KX_INT_C(1)
/* fields past the limit are not listed */
#define MIME_DEFECT_TOO_MANY_HEADER_FIELDS KX_INT_C(2)
/* field values */
/* an unreadable Content-Type: read as far as it goes, else text/plain; charset=us-ascii */
#define MIME_DEFECT_BAD_CONTENT_TYPE KX_INT_C(3)
/* parameters past the limit are not read */
#define MIME_DEFECT_TOO_MANY_PARAMETERS KX_INT_C(4)
/* a charset parameter that names no charset known */
#define MIME_DEFECT_UNKNOWN_CHARSET KX_INT_C(5)
/* an unknown or malformed Content-Transfer-Encoding: the body is taken as it is */
#define MIME_DEFECT_BAD_TRANSFER_ENCODING KX_INT_C(6)
/* multipart structure */
/* a multipart without a boundary: read as one leaf */
#define MIME_DEFECT_NO_BOUNDARY KX_INT_C(7)
/* a boundary over 70 characters, used all the same */
#define MIME_DEFECT_LONG_BOUNDARY KX_INT_C(8)
/* no delimiter line at all: read as one leaf */
#define MIME_DEFECT_NO_FIRST_DELIMITER KX_INT_C(9)
/* no close delimiter: the last part runs to the end */
#define MIME_DEFECT_NO_CLOSE_DELIMITER KX_INT_C(10)
/* a delimiter line with more than white space after the boundary, taken as a delimiter */
#define MIME_DEFECT_TEXT_AFTER_BOUNDARY KX_INT_C(11)
/* parts past the limit: the part before runs to the end of its multipart */
#define MIME_DEFECT_TOO_MANY_PARTS KX_INT_C(12)
/* nesting past the limit: the deeper part stays a leaf */
#define MIME_DEFECT_TOO_DEEP KX_INT_C(13)
/* body decoding */
/* characters outside the Base64 alphabet, skipped */
#define MIME_DEFECT_BASE64_JUNK KX_INT_C(14)
/* a last Base64 group too short for an octet, dropped */
#define MIME_DEFECT_BASE64_TRUNCATED KX_INT_C(15)
/* an "=" that starts no escape and no soft line break, kept as it stands */
#define MIME_DEFECT_QUOTED_PRINTABLE_BAD_ESCAPE KX_INT_C(16)
/* multipart structure, continued */
/* two delimiter lines in a row: the part of no octets between them is skipped */
#define MIME_DEFECT_EMPTY_PART KX_INT_C(17)
/* field values, continued */
/* a Content-Disposition the strict decoder refuses: what it still says is kept (see
 * mimePartContentDisposition) */
#define MIME_DEFECT_BAD_CONTENT_DISPOSITION KX_INT_C(18)
#define MIME_DEFECT_KIND_COUNT KX_INT_C(19)
#define MIME_DEFECT_KIND_OK(kind) (KX_CAST(uint64_t, kind) < KX_CAST(uint64_t, MIME_DEFECT_KIND_COUNT))

/* One defect: its kind (MIME_DEFECT_*) and the offset of the octet where it was found. */
typedef struct MIME_DEFECT {
  kxInt kind;
  kxInt offset;
} MIME_DEFECT;

/* The name of a defect kind ("eight-bit-header", "no-close-delimiter", ...): a static C string; a kind
 * outside MIME_DEFECT_KIND_OK gives "unknown". */
MIME_EXPORT const char *mimeDefectKindName(kxInt kind);

KX_EXTERN_C_END

#endif
