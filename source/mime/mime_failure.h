/* Why the last strict call on this thread failed: a kind of failure, its reason as a fixed text, and the
 * offset in the input where it was found.
 *
 * Every strict function (mimeContentTypeTryDecode, mimeContentDispositionTryDecode,
 * mimeContentTransferEncodingTryDecode, mimeContentIdTryDecode, mimeShfTokenVectorTryDecode, mimeDecode,
 * mimeMultipartTryPack, mimeMultipartTryUnpack) clears the record when it starts and fills it where it
 * refuses its input, so that after it returns its failure value the record says why; after a success the
 * record holds MIME_FAILURE_NONE. Nothing else changes it, so it may be read any time before the next strict
 * call on the same thread. Each thread has its own record; recording costs no allocation and no formatting.
 *
 * The offset counts the units of the input the function was handed: code points of a header field value
 * (for mimeDecode: of the field value that failed), octets of a buffer (a multipart body, an encoded body),
 * and for mimeMultipartTryPack the position of the entity in the vector. -1 when no place applies. */
#ifndef MIME_FAILURE_H
#define MIME_FAILURE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* The kinds of failure. Their numbers and texts are stable; new kinds are added at the end. */
#define MIME_FAILURE_NONE KX_INT_C(0)                       /* the last strict call succeeded */
#define MIME_FAILURE_UNCLOSED_QUOTED_STRING KX_INT_C(1)     /* at the opening quotation mark */
#define MIME_FAILURE_UNCLOSED_COMMENT KX_INT_C(2)           /* at the opening parenthesis */
#define MIME_FAILURE_UNCLOSED_DOMAIN_LITERAL KX_INT_C(3)    /* at the opening bracket */
#define MIME_FAILURE_NESTED_DOMAIN_LITERAL KX_INT_C(4)      /* at the inner "[" */
#define MIME_FAILURE_CR_WITHOUT_FOLD KX_INT_C(5)            /* at the CR */
#define MIME_FAILURE_NO_MEDIA_TYPE KX_INT_C(6)              /* where type "/" subtype breaks off */
#define MIME_FAILURE_BAD_MEDIA_TYPE KX_INT_C(7)             /* at the type or subtype word */
#define MIME_FAILURE_NO_DISPOSITION_TYPE KX_INT_C(8)        /* at the first word, or -1 for an empty value */
#define MIME_FAILURE_BAD_DISPOSITION_TYPE KX_INT_C(9)       /* at the character */
#define MIME_FAILURE_NO_TRANSFER_ENCODING KX_INT_C(10)      /* -1 */
#define MIME_FAILURE_UNKNOWN_TRANSFER_ENCODING KX_INT_C(11) /* at the word */
#define MIME_FAILURE_TEXT_AFTER_VALUE KX_INT_C(12)          /* at the first word after the value */
#define MIME_FAILURE_CONTENT_ID_NOT_BRACKETED KX_INT_C(13)  /* at the first character that is not SP/HTAB */
#define MIME_FAILURE_EMPTY_CONTENT_ID KX_INT_C(14)          /* at the "<" */
#define MIME_FAILURE_CONTROL_IN_CONTENT_ID KX_INT_C(15)     /* at the control character */
#define MIME_FAILURE_TRUNCATED_BASE64 KX_INT_C(16)          /* at the lone last character */
#define MIME_FAILURE_PARTIAL_OCTET KX_INT_C(17)           /* -1: a buffer's bit length is no multiple of 8 */
#define MIME_FAILURE_NO_BOUNDARY KX_INT_C(18)             /* -1 */
#define MIME_FAILURE_BAD_BOUNDARY KX_INT_C(19)            /* -1 */
#define MIME_FAILURE_NO_DELIMITER KX_INT_C(20)            /* -1 */
#define MIME_FAILURE_TEXT_AFTER_BOUNDARY KX_INT_C(21)     /* at the first octet after boundary and padding */
#define MIME_FAILURE_NO_CLOSE_DELIMITER KX_INT_C(22)      /* at the start of the last part */
#define MIME_FAILURE_HEADER_NOT_UTF8 KX_INT_C(23)         /* at the first octet that is not UTF-8 */
#define MIME_FAILURE_HEADER_LINE_NOT_FIELD KX_INT_C(24)   /* at the start of the line */
#define MIME_FAILURE_HEADER_FIELD_REPEATED KX_INT_C(25)   /* at the start of the second line */
#define MIME_FAILURE_HEADER_STARTS_FOLDED KX_INT_C(26)    /* at the start of the part's header block */
#define MIME_FAILURE_HEADER_VALUE_LINE_BREAK KX_INT_C(27) /* pack: at the entity */
#define MIME_FAILURE_HEADER_VALUE_NOT_ENCODABLE KX_INT_C(28) /* pack: at the entity */
#define MIME_FAILURE_BOUNDARY_COLLISIONS KX_INT_C(29)        /* -1 */
#define MIME_FAILURE_TOO_LARGE KX_INT_C(30)                  /* -1 */
#define MIME_FAILURE_KIND_COUNT KX_INT_C(31)

/* The kind of the failure of the last strict call on this thread; MIME_FAILURE_NONE when it succeeded or
 * none was made. */
MIME_EXPORT kxInt mimeLastFailure(void);
/* The reason of the last failure on this thread as a fixed English text ("" for MIME_FAILURE_NONE): static,
 * never null, never to be freed. */
MIME_EXPORT const char *mimeLastFailureReason(void);
/* What the failing call was reading when it failed, as a fixed text: "Content-Type", "Content-Disposition",
 * "Content-Transfer-Encoding", "Content-ID", "header value", "body", "multipart body" or "entities" ("" for
 * MIME_FAILURE_NONE). Static, never null, never to be freed. With the reason it makes a message such as
 * "Content-Type: quoted string not closed (at 24)". */
MIME_EXPORT const char *mimeLastFailureSubject(void);
/* The offset where the last failure on this thread was found, or -1 when none applies (see above for the
 * units). */
MIME_EXPORT kxInt mimeLastFailureOffset(void);
/* The fixed text of a kind, as mimeLastFailureReason gives it; a kind outside 0 to MIME_FAILURE_KIND_COUNT -
 * 1 aborts. */
MIME_EXPORT const char *mimeFailureReason(kxInt kind);
/* Sets this thread's record to MIME_FAILURE_NONE and offset -1. */
MIME_EXPORT void mimeClearLastFailure(void);

KX_EXTERN_C_END

#endif
