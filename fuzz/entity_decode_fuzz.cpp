// mimeDecode of an entity built from fuzzed field values and body: never aborts, and on failure every
// output stays null.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(fuzz::consumeOptions(in));
  fuzz::Ref<MIME_ENTITY> entity(mimeEntityCreate());
  uint8_t present = in.ConsumeIntegral<uint8_t>();
  if (present & 1) mimeEntitySetContentType(entity.addr(), fuzz::Ref<KX_STRING>(fuzz::consumeString(in, 512)).get());
  if (present & 2) mimeEntitySetContentTransferEncoding(entity.addr(), fuzz::Ref<KX_STRING>(fuzz::consumeString(in, 64)).get());
  if (present & 4) mimeEntitySetContentId(entity.addr(), fuzz::Ref<KX_STRING>(fuzz::consumeString(in, 128)).get());
  if (present & 8) mimeEntitySetBody(entity.addr(), fuzz::Ref<KX_BUFFER>(fuzz::bufferFrom(in.ConsumeRemainingBytesAsString())).get());
  KX_BUFFER *body = nullptr;
  MIME_CONTENT_TYPE *type = nullptr;
  KX_STRING *cid = nullptr;
  kxBool ok = mimeDecode(entity.get(), mo.get(), &body, &type, &cid);
  if (!ok) FUZZ_CHECK(!body && !type && !cid);
  kxObjRelease(kxBufferObj(body));
  if (type) mimeContentTypeRelease(type);
  kxObjRelease(kxStringObj(cid));
  return 0;
}
