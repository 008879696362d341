// Entity encoding: the one place that decides which transfer encoding a body travels in.
#include "mime/mime_encode.h"

#include "mime/mime_content_id.h"
#include "mime/mime_content_transfer_encoding.h"
#include "mime/mime_content_type.h"
#include "mime/mime_entity.h"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"

namespace {

using mime::Ref;

// The lengths of the text written before each value on its first header line ("Content-Type: ",
// "Content-Transfer-Encoding: "), so that folding counts them.
constexpr kxInt kContentTypeOffset = 14;
constexpr kxInt kContentTransferEncodingOffset = 27;

struct EncodedBody {
  kxInt cte = -1;  // set with the body
  Ref<KX_BUFFER> body;
};

EncodedBody encodeBody(MIME_OPTIONS *opt, kxInt flags, KX_BUFFER *body);

}  // namespace

extern "C" MIME_ENTITY *mimeEncode(MIME_OPTIONS *opt, KX_BUFFER *body, MIME_CONTENT_TYPE *contentType,
                                   KX_STRING *optionalContentId) {
  // clang-format off
  MIME_ASSERT(opt);
  MIME_ASSERT(!optionalContentId || mimeContentIdOk( optionalContentId ));
  // clang-format on
  const kxInt flags = mimeOptionsFlags(opt);
  EncodedBody encoded;
  if (body) encoded = encodeBody(opt, flags, body);

  Ref<MIME_ENTITY> entity(mimeEntityCreate());
  if (body) {
    Ref<KX_STRING> value(mimeContentTransferEncodingEncode(encoded.cte, opt, kContentTransferEncodingOffset));
    mimeEntitySetContentTransferEncoding(entity.addr(), value.get());
  }
  if (contentType) {
    Ref<KX_STRING> value(mimeContentTypeEncode(contentType, opt, kContentTypeOffset));
    mimeEntitySetContentType(entity.addr(), value.get());
  }
  if (optionalContentId) {
    Ref<KX_STRING> value(mimeContentIdEncode(optionalContentId));
    mimeEntitySetContentId(entity.addr(), value.get());
  }
  if (body) mimeEntitySetBody(entity.addr(), encoded.body.get());
  return entity.release();
}

namespace {

// --- transfer encoding choice ---

EncodedBody base64Of(MIME_OPTIONS *opt, KX_BUFFER *body) {
  Ref<RFC_BASE_OPTIONS> baseOptions(mimeOptionsRfcBaseOptions(opt));
  Ref<KX_BUFFER> baseBuffer(rfcBaseEncodeWithOptions(body, RFC_BASE_SELECTOR_MIME, baseOptions.get()));
  MIME_ASSERT(baseBuffer);
  return {MIME_CONTENT_TRANSFER_ENCODING_BASE64, std::move(baseBuffer)};
}

// The strictly shorter of the two encodings, Base64 on a tie or when quoted-printable declines. Both
// lengths come from the codecs' exact length queries, so only the winner is encoded: the result is the
// one encoding both and throwing the longer away would give.
EncodedBody shorterOf(MIME_OPTIONS *opt, KX_BUFFER *body) {
  Ref<RFC_QUOP_OPTIONS> quopOptions(mimeOptionsRfcQuopOptions(opt));
  Ref<RFC_BASE_OPTIONS> baseOptions(mimeOptionsRfcBaseOptions(opt));
  const kxInt quopLength = rfcQuopEncodedLength(body, quopOptions.get());
  const kxInt baseLength = rfcBaseEncodedLength(body, RFC_BASE_SELECTOR_MIME, baseOptions.get());
  if (quopLength >= 0 && baseLength > quopLength) {
    Ref<KX_BUFFER> quopBuffer(rfcQuopEncodeWithOptions(body, quopOptions.get()));
    if (quopBuffer) return {MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE, std::move(quopBuffer)};
  }
  return base64Of(opt, body);
}

EncodedBody encodeBody(MIME_OPTIONS *opt, kxInt flags, KX_BUFFER *body) {
  // Under the eight-bit flag every body goes as it is, 7bit-clean or not, labelled "binary".
  if (flags & MIME_FLAG_GENERATE_EIGHT_BIT_BODY) {
    return {MIME_CONTENT_TRANSFER_ENCODING_BINARY, Ref<KX_BUFFER>(mime::retainField(body))};
  }
  if (mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_7BIT, body)) {
    return {MIME_CONTENT_TRANSFER_ENCODING_7BIT, Ref<KX_BUFFER>(mime::retainField(body))};
  }
  if (flags & MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE) return base64Of(opt, body);
  return shorterOf(opt, body);
}

}  // namespace
