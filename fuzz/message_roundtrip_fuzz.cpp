// What the packer writes, the message reader reads back: entities made by mimeEncode and packed under a
// Content-Type header come back as parts with the same content types and, decoded, the same bodies, in the
// same order and without a defect.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(fuzz::consumeOptions(in));
  mimeOptionsSetFlags(mo.addr(), mimeOptionsFlags(mo.get()) | MIME_FLAG_PARSE_RFC2231_HEADERS);
  fuzz::Ref<KX_VECTOR> entities(kxVectorCreate());
  std::vector<std::string> bodies;
  std::vector<fuzz::Ref<MIME_CONTENT_TYPE>> types;
  const size_t count = in.ConsumeIntegralInRange<size_t>(1, 6);
  for (size_t i = 0; i < count; ++i) {
    bodies.push_back(in.ConsumeRandomLengthString(2048));
    fuzz::Ref<KX_BUFFER> body(fuzz::bufferFrom(bodies.back()));
    types.emplace_back(mimeContentTypeCreateCstr(in.ConsumeBool() ? "text/plain" : "application/pdf", -1));
    fuzz::Ref<KX_STRING> file(fuzz::stringFromUtf8(in.ConsumeRandomLengthString(40)));
    mimeContentTypeSetParameterCstr(types.back().addr(), "name", -1, file.get());
    fuzz::Ref<MIME_ENTITY> entity(mimeEncode(mo.get(), body.get(), types.back().get(), nullptr));
    kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
    // What the header can carry under the options (a parameter they cannot write is left out).
    types.back().reset();
    FUZZ_CHECK(mimeDecode(entity.get(), mo.get(), nullptr, types.back().addr(), nullptr));
  }
  fuzz::Ref<MIME_CONTENT_TYPE> outer(mimeContentTypeCreateCstr("multipart/mixed", -1));
  fuzz::Ref<KX_BUFFER> packed(mimeMultipartTryPack(outer.addr(), entities.get(), mo.get()));
  FUZZ_CHECK(packed);
  fuzz::Ref<KX_STRING> outerText(mimeContentTypeEncode(outer.get(), mo.get(), 14));
  fuzz::Ref<KX_BUFFER> outerOctets(kxCharsetConvertStringToBuffer(outerText.get(), KX_CHARSET_UTF_8));
  fuzz::Ref<KX_BUFFER> message(kxBufferCreateFromBytes("Content-Type: ", 14));
  kxBufferAppend(message.addr(), outerOctets.get());
  kxBufferAppendBytes(message.addr(), "\r\n\r\n", 4);
  kxBufferAppend(message.addr(), packed.get());

  fuzz::Ref<MIME_PART> root(mimeMessageRead(message.get(), mo.get()));
  FUZZ_CHECK(mimePartDefectsLength(root.get()) == 0);
  FUZZ_CHECK(mimePartChildrenLength(root.get()) == static_cast<kxInt>(count));
  for (size_t i = 0; i < count; ++i) {
    fuzz::Ref<MIME_PART> part(mimePartChildAt(root.get(), static_cast<kxInt>(i)));
    FUZZ_CHECK(mimePartDefectsLength(part.get()) == 0);
    fuzz::Ref<MIME_CONTENT_TYPE> type(mimePartContentType(part.get()));
    FUZZ_CHECK(mimeContentTypeEquals(type.get(), types[i].get()));
    MIME_DEFECT defect;
    fuzz::Ref<KX_BUFFER> body(mimePartDecodeBody(part.get(), mo.get(), &defect));
    FUZZ_CHECK(defect.kind == -1);
    FUZZ_CHECK(static_cast<size_t>(kxBufferLength(body.get())) == bodies[i].size());
    FUZZ_CHECK(kxMemCompare(kxBufferBacking(body.get()), bodies[i].data(), kxBufferLength(body.get())) == 0);
  }
  return 0;
}
