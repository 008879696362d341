// Entity decoding: the three field values decoded and the body's transfer encoding undone.
#include "mime/mime_decode.h"

#include "mime/mime_content_id.h"
#include "mime/mime_content_transfer_encoding.h"
#include "mime/mime_content_type.h"
#include "mime/mime_entity.h"
#include "mime/mime_failure.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"

namespace {

using kx::Ref;

Ref<KX_BUFFER> decodeBody(MIME_OPTIONS *opt, kxInt cte, KX_BUFFER *body);
bool recordBodyFailure(KX_BUFFER *body);

// Clears an output the caller asked for: releases what it holds and sets it to null.
template <typename T>
void clearOutput(T **output) {
  if (output) kxObjClear(output);
}

// Hands a result to an output the caller asked for; an unwanted result is released with its holder.
template <typename T>
void storeOutput(T **output, Ref<T> *result) {
  if (output) *output = result->release();
}

}  // namespace

extern "C" kxBool mimeDecode(MIME_ENTITY *entity, MIME_OPTIONS *opt, KX_BUFFER **body,
                             MIME_CONTENT_TYPE **contentType, KX_STRING **contentId) {
  MIME_ASSERT(entity);
  MIME_ASSERT(opt);
  clearOutput(body);
  clearOutput(contentType);
  clearOutput(contentId);
  mime::clearFailure();

  // The steps run in this order; the first failure ends the call and nothing further is examined.
  Ref<MIME_CONTENT_TYPE> decodedType;
  if (mimeEntityHasContentType(entity)) {
    Ref<KX_STRING> value(mimeEntityContentType(entity));
    decodedType.reset(mimeContentTypeTryDecode(value.get(), opt));
    if (!decodedType) return false;
  }

  // Without the field the body is taken as it stands.
  kxInt cte = MIME_CONTENT_TRANSFER_ENCODING_BINARY;
  if (mimeEntityHasContentTransferEncoding(entity)) {
    Ref<KX_STRING> value(mimeEntityContentTransferEncoding(entity));
    cte = mimeContentTransferEncodingTryDecode(value.get(), opt);
    if (!MIME_CONTENT_TRANSFER_ENCODING_OK(cte)) return false;
  }

  Ref<KX_STRING> decodedId;
  if (mimeEntityHasContentId(entity)) {
    Ref<KX_STRING> value(mimeEntityContentId(entity));
    decodedId.reset(mimeContentIdTryDecode(value.get()));
    if (!decodedId) return false;
  }

  Ref<KX_BUFFER> decodedBody;
  if (mimeEntityHasBody(entity)) {
    Ref<KX_BUFFER> encoded(mimeEntityBody(entity));
    decodedBody = decodeBody(opt, cte, encoded.get());
    if (!decodedBody) return recordBodyFailure(encoded.get());
  }

  storeOutput(body, &decodedBody);
  storeOutput(contentType, &decodedType);
  storeOutput(contentId, &decodedId);
  return true;
}

namespace {

// The body with its transfer encoding undone; null when it does not decode. 7bit, 8bit and binary
// bodies are handed out as they are (shared, their octets not checked against the label).
Ref<KX_BUFFER> decodeBody(MIME_OPTIONS *opt, kxInt cte, KX_BUFFER *body) {
  switch (cte) {
    case MIME_CONTENT_TRANSFER_ENCODING_BASE64: {
      Ref<RFC_BASE_OPTIONS> baseOptions(mimeOptionsRfcBaseOptions(opt));
      return Ref<KX_BUFFER>(rfcBaseTryDecodeWithOptions(body, RFC_BASE_SELECTOR_MIME, baseOptions.get()));
    }
    case MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE: {
      Ref<RFC_QUOP_OPTIONS> quopOptions(mimeOptionsRfcQuopOptions(opt));
      return Ref<KX_BUFFER>(rfcQuopTryDecodeWithOptions(body, quopOptions.get()));
    }
    default:
      return Ref<KX_BUFFER>(mime::retainField(body));
  }
}

bool isBase64Alphabet(kxByte c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Why a body did not decode: the codecs refuse only a partial octet, and Base64 text that ends in a lone
// character (the data ends at the first "=", and only alphabet characters count).
bool recordBodyFailure(KX_BUFFER *body) {
  mime::setFailureSubject("body");
  if (kxBufferBitLength(body) % 8 != 0) return mime::fail(MIME_FAILURE_PARTIAL_OCTET);
  const kxByte *octets = kxBufferBacking(body);
  const kxInt length = kxBufferLength(body);
  kxInt last = -1;
  for (kxInt i = 0; i < length && octets[i] != '='; ++i) {
    if (isBase64Alphabet(octets[i])) last = i;
  }
  return mime::fail(MIME_FAILURE_TRUNCATED_BASE64, last);
}

}  // namespace
