// The module object and module record through which the base runtime's module system finds, starts and
// stops the library, and the version banner.
#include "mime/mime_module.h"

#include "mime/mime_encode_flags.h"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime_build_info.h"

#define MIME_STRINGIZE_VALUE(x) #x
#define MIME_STRINGIZE(x) MIME_STRINGIZE_VALUE(x)

#define MIME_PRODUCT_IDENTIFIER "MXP"
#define MIME_PRODUCT_VERSION_TEXT            \
  MIME_STRINGIZE(MIME_PRODUCT_VERSION_MAJOR) \
  "." MIME_STRINGIZE(MIME_PRODUCT_VERSION_MINOR) "." MIME_STRINGIZE(MIME_PRODUCT_VERSION_PATCH)

extern "C" {

const KX_MODULE_RECORD mime___module_record = {
    2,                        // record format version
    MIME_PRODUCT_IDENTIFIER,  // product identifier
    "Message Exchange Platform",
    MIME_PRODUCT_VERSION_MAJOR,
    MIME_PRODUCT_VERSION_MINOR,
    MIME_PRODUCT_VERSION_PATCH,
    MIME_BUILD_TIME,  // "UTC yyyy-mm-dd hh:mm:ss (Weekday)", from the build (SOURCE_DATE_EPOCH when set)
    "The mime developers",
    "Copyright the mime developers. All rights reserved.",
    "mime",
    "Multipurpose Internet Mail Extensions",
    "0.0",
    "kx rfc trace",  // base runtime, codec library, trace library
    "",
};

KX_MODULE mime___module = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_MODULE),
    &mime___module_record,
    mime___ModuleStartup,
    nullptr,  // optional slot, unused
    mime___ModuleShutdown,
    {},
};

const char *const mime___module_version_string =
    "@(#) " MIME_PRODUCT_IDENTIFIER " " MIME_PRODUCT_VERSION_TEXT " (" MIME_BUILD_PLATFORM
    " " MIME_BUILD_CONFIGURATION "), mime 0.0";

KX_MODULE *mimeModule(void) {
  return &mime___module;
}

kxBool mime___ModuleStartup(void) {
  mime___EncodeFlagsStartup();
  mime___FlagsStartup();
  return 1;
}

void mime___ModuleShutdown(void) {
  mime___FlagsShutdown();
  mime___EncodeFlagsShutdown();
}

}  // extern "C"
