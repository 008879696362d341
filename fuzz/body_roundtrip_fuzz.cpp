// mimeEncode then mimeDecode gives back the body octet for octet, the content type and the Content-ID,
// under any flags and line lengths.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(fuzz::consumeOptions(in));
  mimeOptionsSetFlags(mo.addr(), mimeOptionsFlags(mo.get()) | MIME_FLAG_PARSE_RFC2231_HEADERS);
  fuzz::Ref<MIME_CONTENT_TYPE> type(mimeContentTypeCreateCstr("application/octet-stream", -1));
  fuzz::Ref<KX_STRING> cid(mimeContentIdGenerate());
  fuzz::Ref<KX_BUFFER> body(fuzz::bufferFrom(in.ConsumeRemainingBytesAsString()));
  fuzz::Ref<MIME_ENTITY> entity(mimeEncode(mo.get(), body.get(), type.get(), cid.get()));
  fuzz::Ref<KX_BUFFER> decodedBody;
  fuzz::Ref<MIME_CONTENT_TYPE> decodedType;
  fuzz::Ref<KX_STRING> decodedCid;
  FUZZ_CHECK(mimeDecode(entity.get(), mo.get(), decodedBody.addr(), decodedType.addr(), decodedCid.addr()));
  FUZZ_CHECK(decodedBody && fuzz::sameBytes(decodedBody.get(), body.get()));
  FUZZ_CHECK(decodedType && mimeContentTypeEquals(decodedType.get(), type.get()));
  FUZZ_CHECK(decodedCid && kxStringEquals(decodedCid.get(), cid.get()));
  return 0;
}
