// Defect kinds and their names, as tools print them.
#include "mime/mime_defect.h"

namespace {

// Indexed by kind.
constexpr const char *kNames[MIME_DEFECT_KIND_COUNT] = {
    "eight-bit-header",
    "not-a-header-field",
    "too-many-header-fields",
    "bad-content-type",
    "too-many-parameters",
    "unknown-charset",
    "bad-transfer-encoding",
    "no-boundary",
    "long-boundary",
    "no-first-delimiter",
    "no-close-delimiter",
    "text-after-boundary",
    "too-many-parts",
    "too-deep",
    "base64-junk",
    "base64-truncated",
    "quoted-printable-bad-escape",
    "empty-part",
    "bad-content-disposition",
};

}  // namespace

extern "C" const char *mimeDefectKindName(kxInt kind) {
  return MIME_DEFECT_KIND_OK(kind) ? kNames[kind] : "unknown";
}
