// Entity encoding: the one place that decides which transfer encoding a body travels in.
#include "mime/mime_encode.h"

#include <string_view>

#include "mime/mime_content_id.h"
#include "mime/mime_content_transfer_encoding.h"
#include "mime/mime_content_type.h"
#include "mime/mime_entity.h"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"

namespace {

using kx::Ref;

// The lengths of the text written before each value on its first header line ("Content-Type: ",
// "Content-Transfer-Encoding: "), so that folding counts them.
constexpr kxInt kContentTypeOffset = 14;
constexpr kxInt kContentTransferEncodingOffset = 27;

struct EncodedBody {
  kxInt cte = -1;  // set with the body
  Ref<KX_BUFFER> body;
};

EncodedBody encodeBody(MIME_OPTIONS *opt, kxInt flags, KX_BUFFER *body, bool multipart);
bool isMultipart(MIME_CONTENT_TYPE *contentType);

}  // namespace

extern "C" MIME_ENTITY *mimeEncode(MIME_OPTIONS *opt, KX_BUFFER *body, MIME_CONTENT_TYPE *contentType,
                                   KX_STRING *optionalContentId) {
  // clang-format off
  MIME_ASSERT(opt);
  MIME_ASSERT(!optionalContentId || mimeContentIdOk( optionalContentId ));
  // clang-format on
  const kxInt flags = mimeOptionsFlags(opt);
  EncodedBody encoded;
  if (body) encoded = encodeBody(opt, flags, body, contentType && isMultipart(contentType));

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

// The strictly shorter of the two encodings, Base64 on a tie or when quoted-printable declines. The Base64
// length is known without encoding, and quoted-printable is only written while it stays shorter (a quick
// count turns most binary bodies away first), so at most one encoding is finished: the result is the one
// encoding both and throwing the longer away would give.
EncodedBody shorterOf(MIME_OPTIONS *opt, KX_BUFFER *body) {
  Ref<RFC_QUOP_OPTIONS> quopOptions(mimeOptionsRfcQuopOptions(opt));
  Ref<RFC_BASE_OPTIONS> baseOptions(mimeOptionsRfcBaseOptions(opt));
  const kxInt baseLength = rfcBaseEncodedLength(body, RFC_BASE_SELECTOR_MIME, baseOptions.get());
  if (baseLength > 0) {
    Ref<KX_BUFFER> quopBuffer(rfcQuopTryEncodeWithinLength(body, quopOptions.get(), baseLength - 1));
    if (quopBuffer) return {MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE, std::move(quopBuffer)};
  }
  return base64Of(opt, body);
}

EncodedBody unchanged(kxInt cte, KX_BUFFER *body) {
  return {cte, Ref<KX_BUFFER>(mime::retainField(body))};
}

EncodedBody encodeBody(MIME_OPTIONS *opt, kxInt flags, KX_BUFFER *body, bool multipart) {
  // Under the eight-bit flag every body goes as it is, 7bit-clean or not, labelled "binary".
  if (flags & MIME_FLAG_GENERATE_EIGHT_BIT_BODY)
    return unchanged(MIME_CONTENT_TRANSFER_ENCODING_BINARY, body);
  if (mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_7BIT, body)) {
    return unchanged(MIME_CONTENT_TRANSFER_ENCODING_7BIT, body);
  }
  // A multipart body may only travel as 7bit, 8bit or binary: encoded as a whole, readers no longer find
  // its delimiter lines and see no parts at all. Its parts carry their own encodings.
  if (multipart) {
    const bool eightBitClean = mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_8BIT, body);
    return unchanged(
        eightBitClean ? MIME_CONTENT_TRANSFER_ENCODING_8BIT : MIME_CONTENT_TRANSFER_ENCODING_BINARY, body);
  }
  if (flags & MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE) return base64Of(opt, body);
  return shorterOf(opt, body);
}

bool isMultipart(MIME_CONTENT_TYPE *contentType) {
  static constexpr std::string_view kPrefix = "multipart/";
  Ref<KX_STRING> name(mimeContentTypeName(contentType));
  const kxChar *chars = kxStringBacking(name.get());
  if (kxStringLength(name.get()) <= static_cast<kxInt>(kPrefix.size())) return false;
  for (size_t i = 0; i < kPrefix.size(); ++i) {
    if (chars[i] != static_cast<unsigned char>(kPrefix[i])) return false;  // names are stored lower-case
  }
  return true;
}

}  // namespace
