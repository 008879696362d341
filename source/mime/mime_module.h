/* The module object through which the base runtime's module system finds, starts and stops the library. */
#ifndef MIME_MODULE_H
#define MIME_MODULE_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* The module object (a permanent static object, never released) and the record it points to. */
MIME_EXPORT extern KX_MODULE mime___module;
MIME_EXPORT extern const KX_MODULE_RECORD mime___module_record;
/* One-line banner: marker, product identifier and version, (platform configuration), "mime 0.0". Static. */
MIME_EXPORT extern const char *const mime___module_version_string;

/* Returns the address of mime___module: static data, neither retained nor released. */
MIME_EXPORT KX_MODULE *mimeModule(void);

/* Builds the encode flag set, then the MIME flag set; returns true. Called once by the module system,
 * before any other use of the library. */
MIME_EXPORT kxBool mime___ModuleStartup(void);
/* Tears down the MIME flag set, then the encode flag set. Called once by the module system, after the
 * last use of the library. */
MIME_EXPORT void mime___ModuleShutdown(void);

KX_EXTERN_C_END

#endif
