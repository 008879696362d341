// The MIME flags: normalisation and the text form through the module-wide flagset.
#include "mime/mime_flags.h"

#include "mime/mime_object.hpp"

namespace {

constexpr kxInt kDefinedFlags = MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS |
                                MIME_FLAG_GENERATE_UNICODE_HEADERS | MIME_FLAG_GENERATE_EIGHT_BIT_BODY |
                                MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE;

KX_FLAGSET *startedFlagset() {
  MIME_ASSERT(mime___FlagsFlagset && mime___FlagsFlagset != MIME_DEAD_FLAGSET);
  return mime___FlagsFlagset;
}

}  // namespace

extern "C" {

KX_FLAGSET *mime___FlagsFlagset = nullptr;

kxInt mimeFlagsNormalize(kxInt flags) {
  flags &= kDefinedFlags;
  // RFC 2231 generation wins over raw Unicode parameter values.
  if (flags & MIME_FLAG_GENERATE_RFC2231_HEADERS) flags &= ~MIME_FLAG_GENERATE_UNICODE_HEADERS;
  return flags;
}

kxInt mimeFlagsFromString(KX_STRING *string) {
  MIME_ASSERT(string);
  return mimeFlagsNormalize(kxFlagsetParse(startedFlagset(), string));
}

KX_STRING *mimeFlagsToString(kxInt flags) {
  return kxFlagsetGenerate(startedFlagset(), mimeFlagsNormalize(flags));
}

void mime___FlagsStartup(void) {
  mime___FlagsFlagset = nullptr;
  mime___FlagsFlagset = kxFlagsetCreate();
  MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_PARSE_RFC2231_HEADERS);
  MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_GENERATE_RFC2231_HEADERS);
  MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_GENERATE_UNICODE_HEADERS);
  MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_GENERATE_EIGHT_BIT_BODY);
  MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE);
}

void mime___FlagsShutdown(void) {
  // A second shutdown finds the all-ones marker, which is no object to release.
  if (mime___FlagsFlagset && mime___FlagsFlagset != MIME_DEAD_FLAGSET)
    kxObjRelease(kxFlagsetObj(mime___FlagsFlagset));
  mime___FlagsFlagset = MIME_DEAD_FLAGSET;
}

}  // extern "C"
