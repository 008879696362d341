// Content-ID: validation, generation, and the header field form with angle brackets.
//
//   field value := *( SP / HTAB ) "<" content-id ">" *( SP / HTAB )
//   content-id  := 1*( any code point but 0x00-0x1F and 0x7F )
//
// The value is not tokenized: a comment or a line break beside the brackets makes it unreadable.
#include "mime/mime_content_id.h"

#include <algorithm>

#include "kx/kx_identifier.h"
#include "mime/mime_char.h"
#include "mime/mime_failure.hpp"
#include "mime/mime_object.hpp"

extern "C" {

kxBool mimeContentIdOk(KX_STRING *cid) {
  MIME_ASSERT(cid);
  const kxChar *chars = kxStringBacking(cid);
  const kxInt length = kxStringLength(cid);
  if (length == 0) return 0;
  for (kxInt i = 0; i < length; ++i) {
    if (mime::chars::isCtl(chars[i])) return 0;
  }
  return 1;
}

KX_STRING *mimeContentIdGenerate(void) {
  // Two fresh identifiers, each unique; the format releases both.
  return kxStringCreateFromFormatCstr("%~o@%~o", kxIdentifierObj(kxIdentifierCreate()),
                                      kxIdentifierObj(kxIdentifierCreate()));
}

KX_STRING *mimeContentIdEncode(KX_STRING *cid) {
  // clang-format off
  MIME_ASSERT(mimeContentIdOk( cid ));
  // clang-format on
  return kxStringCreateFromFormatCstr("<%s>", cid);
}

KX_STRING *mimeContentIdTryDecode(KX_STRING *raw) {
  MIME_ASSERT(raw);
  mime::clearFailure("Content-ID");
  const kxChar *chars = kxStringBacking(raw);
  kxInt begin = 0;
  kxInt end = kxStringLength(raw);
  // Only SP and HTAB are trimmed; CR and LF stay and then make the brackets miss.
  while (begin < end && mime::chars::isLwsp(chars[begin])) ++begin;
  while (end > begin && mime::chars::isLwsp(chars[end - 1])) --end;
  if (end - begin < 2 || chars[begin] != '<' || chars[end - 1] != '>') {
    mime::fail(MIME_FAILURE_CONTENT_ID_NOT_BRACKETED, begin < end ? begin : -1);
    return nullptr;
  }
  if (end - begin == 2) {
    mime::fail(MIME_FAILURE_EMPTY_CONTENT_ID, begin);
    return nullptr;
  }
  const kxChar *control = std::find_if(chars + begin + 1, chars + end - 1, mime::chars::isCtl);
  if (control != chars + end - 1) {
    mime::fail(MIME_FAILURE_CONTROL_IN_CONTENT_ID, control - chars);
    return nullptr;
  }
  return kxStringCreateFromInner(raw, begin + 1, end - begin - 2);
}

}  // extern "C"
