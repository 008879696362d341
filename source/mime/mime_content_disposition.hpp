// Internal to the library: reading a Content-Disposition the strict decoder refuses, for the message reader.
#pragma once

#include "mime/mime_defs.h"

namespace mime::disposition {

// A new disposition read from a header field value, never null. A value mimeContentDispositionTryDecode
// reads comes out the same; of any other, what it still says is kept (*salvaged set): a quoted string left
// open runs to the end of the value (its text as written, escapes and all), a comment or domain literal left
// open ends it, and a disposition type that is no token of ASCII reads as "attachment", as readers are to
// treat a type they do not know; the parameters after the first ";" are read as always.
MIME_CONTENT_DISPOSITION *decodeTolerantly(KX_STRING *value, MIME_OPTIONS *mo, bool *salvaged);

}  // namespace mime::disposition
