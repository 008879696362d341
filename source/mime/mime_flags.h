/* The MIME flags: the 64-bit bit set held by the options (mimeOptionsFlags) that steers the header and body
 * encoders, with its normalisation and its text form. */
#ifndef MIME_FLAGS_H
#define MIME_FLAGS_H

#include "kx/kx_flagset.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* Decoding a Content-Type joins and decodes RFC 2231 parameter sections. */
#define MIME_FLAG_PARSE_RFC2231_HEADERS KX_INT_C(1)
/* Encoding a Content-Type applies RFC 2231 to parameter values. */
#define MIME_FLAG_GENERATE_RFC2231_HEADERS KX_INT_C(2)
/* Encoding a Content-Type may emit parameter values above 127 as they stand (dropped by normalisation
 * when MIME_FLAG_GENERATE_RFC2231_HEADERS is set). */
#define MIME_FLAG_GENERATE_UNICODE_HEADERS KX_INT_C(4)
/* Entity encoding leaves the body untouched under the "binary" transfer encoding. */
#define MIME_FLAG_GENERATE_EIGHT_BIT_BODY KX_INT_C(8)
/* Entity encoding never chooses quoted-printable. */
#define MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE KX_INT_C(16)

/* The module-wide flagset of the MIME flag names: null before startup, all ones after shutdown. */
MIME_EXPORT extern KX_FLAGSET *mime___FlagsFlagset;

/* Returns flags with every undefined bit cleared, and MIME_FLAG_GENERATE_UNICODE_HEADERS cleared when
 * MIME_FLAG_GENERATE_RFC2231_HEADERS is set. Works whether or not the module is started. */
MIME_EXPORT kxInt mimeFlagsNormalize(kxInt flags);
/* Returns the normalised union of the flags named in string (unknown names contribute nothing). A null
 * string aborts; needs the started module. */
MIME_EXPORT kxInt mimeFlagsFromString(KX_STRING *string);
/* Returns the text form of the normalised flags, a new string owned by the caller ("" for no flags).
 * Needs the started module. */
MIME_EXPORT KX_STRING *mimeFlagsToString(kxInt flags);

/* Builds mime___FlagsFlagset (module startup); aborts when a name is defined twice. */
MIME_EXPORT void mime___FlagsStartup(void);
/* Releases mime___FlagsFlagset and leaves the variable all ones (module shutdown). */
MIME_EXPORT void mime___FlagsShutdown(void);

KX_EXTERN_C_END

#endif
