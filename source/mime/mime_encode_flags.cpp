// The encode flags: normalisation and the text form through the module-wide flagset.
#include "mime/mime_encode_flags.h"

#include "mime/mime_object.hpp"

namespace {

constexpr kxInt kDefinedEncodeFlags = MIME_ENCODE_FLAG_7BIT | MIME_ENCODE_FLAG_8BIT;

KX_FLAGSET *startedFlagset() {
  MIME_ASSERT(mime___EncodeFlagsFlagset && mime___EncodeFlagsFlagset != MIME_DEAD_FLAGSET);
  return mime___EncodeFlagsFlagset;
}

}  // namespace

extern "C" {

KX_FLAGSET *mime___EncodeFlagsFlagset = nullptr;

kxInt mimeEncodeFlagsNormalize(kxInt flags) {
  flags &= kDefinedEncodeFlags;
  if (flags & MIME_ENCODE_FLAG_7BIT) flags &= ~MIME_ENCODE_FLAG_8BIT;  // 7 bit wins
  return flags;
}

kxInt mimeEncodeFlagsFromString(KX_STRING *string) {
  MIME_ASSERT(string);
  return mimeEncodeFlagsNormalize(kxFlagsetParse(startedFlagset(), string));
}

KX_STRING *mimeEncodeFlagsToString(kxInt flags) {
  return kxFlagsetGenerate(startedFlagset(), mimeEncodeFlagsNormalize(flags));
}

void mime___EncodeFlagsStartup(void) {
  mime___EncodeFlagsFlagset = nullptr;
  mime___EncodeFlagsFlagset = kxFlagsetCreate();
  MIME_FLAGSET_ADD(&mime___EncodeFlagsFlagset, MIME_ENCODE_FLAG_7BIT);
  MIME_FLAGSET_ADD(&mime___EncodeFlagsFlagset, MIME_ENCODE_FLAG_8BIT);
}

void mime___EncodeFlagsShutdown(void) {
  // A second shutdown finds the all-ones marker, which is no object to release.
  if (mime___EncodeFlagsFlagset && mime___EncodeFlagsFlagset != MIME_DEAD_FLAGSET)
    kxObjRelease(kxFlagsetObj(mime___EncodeFlagsFlagset));
  mime___EncodeFlagsFlagset = MIME_DEAD_FLAGSET;
}

}  // extern "C"
