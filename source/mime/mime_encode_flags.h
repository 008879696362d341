/* The encode flags: a 64-bit bit set offered to callers (no operation of this library reads it), with its
 * normalisation and its text form. Separate from the MIME flags: the value 1 means something else there. */
#ifndef MIME_ENCODE_FLAGS_H
#define MIME_ENCODE_FLAGS_H

#include "kx/kx_flagset.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

#define MIME_ENCODE_FLAG_7BIT KX_INT_C(1)
#define MIME_ENCODE_FLAG_8BIT KX_INT_C(2) /* dropped by normalisation when MIME_ENCODE_FLAG_7BIT is set */

/* The module-wide flagset of the encode flag names: null before startup, all ones after shutdown. */
MIME_EXPORT extern KX_FLAGSET *mime___EncodeFlagsFlagset;

/* Returns flags with every undefined bit cleared, and MIME_ENCODE_FLAG_8BIT cleared when
 * MIME_ENCODE_FLAG_7BIT is set. Works whether or not the module is started. */
MIME_EXPORT kxInt mimeEncodeFlagsNormalize(kxInt flags);
/* Returns the normalised union of the encode flags named in string. A null string aborts; needs the
 * started module. */
MIME_EXPORT kxInt mimeEncodeFlagsFromString(KX_STRING *string);
/* Returns the text form of the normalised flags, a new string owned by the caller. Needs the started
 * module. */
MIME_EXPORT KX_STRING *mimeEncodeFlagsToString(kxInt flags);

/* Builds mime___EncodeFlagsFlagset (module startup); aborts when a name is defined twice. */
MIME_EXPORT void mime___EncodeFlagsStartup(void);
/* Releases mime___EncodeFlagsFlagset and leaves the variable all ones (module shutdown). */
MIME_EXPORT void mime___EncodeFlagsShutdown(void);

KX_EXTERN_C_END

#endif
