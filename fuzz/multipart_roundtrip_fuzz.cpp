// Entities made by mimeEncode, packed and unpacked, decode back to the same bodies, content types and
// Content-IDs, in the same order; the boundary never collides with a body.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(fuzz::consumeOptions(in));
  mimeOptionsSetFlags(mo.addr(), mimeOptionsFlags(mo.get()) | MIME_FLAG_PARSE_RFC2231_HEADERS);
  fuzz::Ref<KX_VECTOR> entities(kxVectorCreate());
  std::vector<std::string> bodies;
  size_t count = in.ConsumeIntegralInRange<size_t>(1, 6);
  for (size_t i = 0; i < count; ++i) {
    bodies.push_back(in.ConsumeRandomLengthString(2048));
    fuzz::Ref<KX_BUFFER> body(fuzz::bufferFrom(bodies.back()));
    fuzz::Ref<MIME_CONTENT_TYPE> type(mimeContentTypeCreateCstr("text/plain", -1));
    fuzz::Ref<KX_STRING> file(fuzz::stringFromUtf8(in.ConsumeRandomLengthString(40)));
    mimeContentTypeSetParameterCstr(type.addr(), "filename", -1, file.get());
    fuzz::Ref<MIME_ENTITY> entity(mimeEncode(mo.get(), body.get(), type.get(), nullptr));
    kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
  }
  fuzz::Ref<MIME_CONTENT_TYPE> outer(mimeContentTypeCreateCstr("multipart/mixed", -1));
  fuzz::Ref<KX_BUFFER> packed(mimeMultipartTryPack(outer.addr(), entities.get(), mo.get()));
  FUZZ_CHECK(packed);
  fuzz::Ref<KX_VECTOR> parts(mimeMultipartTryUnpack(outer.addr(), packed.get(), mo.get()));
  FUZZ_CHECK(parts && kxVectorLength(parts.get()) == static_cast<kxInt>(count));
  for (size_t i = 0; i < count; ++i) {
    fuzz::Ref<KX_BUFFER> body;
    fuzz::Ref<MIME_CONTENT_TYPE> type;
    FUZZ_CHECK(mimeDecode(mimeEntityFrom(kxVectorBacking(parts.get())[i]), mo.get(), body.addr(), type.addr(), nullptr));
    fuzz::Ref<MIME_CONTENT_TYPE> original;
    FUZZ_CHECK(mimeDecode(mimeEntityFrom(kxVectorBacking(entities.get())[i]), mo.get(), nullptr, original.addr(), nullptr));
    FUZZ_CHECK(type && original && mimeContentTypeEquals(type.get(), original.get()));
    // An empty body comes back as no body.
    if (bodies[i].empty()) continue;
    FUZZ_CHECK(body && static_cast<size_t>(kxBufferLength(body.get())) == bodies[i].size());
    FUZZ_CHECK(kxMemCompare(kxBufferBacking(body.get()), bodies[i].data(), kxBufferLength(body.get())) == 0);
  }
  return 0;
}
