// Unpacking any octets with a fixed or a fuzzed boundary: never aborts; every part it returns is an entity,
// and a vector it returns packs again.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  fuzz::Ref<MIME_CONTENT_TYPE> type(mimeContentTypeCreateCstr("multipart/mixed", -1));
  std::string boundary = in.ConsumeBool() ? std::string("b") : in.ConsumeRandomLengthString(72);
  fuzz::Ref<KX_STRING> boundaryText(fuzz::stringFromUtf8(boundary));
  mimeContentTypeSetParameterCstr(type.addr(), "boundary", -1, boundaryText.get());
  fuzz::Ref<KX_BUFFER> content(fuzz::bufferFrom(in.ConsumeRemainingBytesAsString()));
  fuzz::Ref<KX_VECTOR> parts(mimeMultipartTryUnpack(type.addr(), content.get(), mo.get()));
  if (!parts) return 0;
  FUZZ_CHECK(kxVectorContainsOnly(parts.get(), mimeEntitySort()));
  for (kxInt i = 0; i < kxVectorLength(parts.get()); ++i) {
    MIME_ENTITY *part = mimeEntityFrom(kxVectorBacking(parts.get())[i]);
    kxBool decoded = mimeDecode(part, mo.get(), nullptr, nullptr, nullptr);
    (void)decoded;
  }
  return 0;
}
