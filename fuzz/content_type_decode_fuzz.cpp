// Content-Type decoding with and without RFC 2231 parsing: never aborts; what decodes encodes again and
// decodes to the same content type when nothing was lost to the flags; the input's octets decoded as they
// are read as the string made of them.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  mimeOptionsSetFlags(
      mo.addr(), in.ConsumeBool() ? MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS : 0);
  const char *octets = reinterpret_cast<const char *>(data);
  fuzz::Ref<KX_STRING> whole(kxStringCreateFromCstr(octets, static_cast<kxInt>(size)));
  fuzz::Ref<MIME_CONTENT_TYPE> fromString(mimeContentTypeTryDecode(whole.get(), mo.get()));
  fuzz::Ref<MIME_CONTENT_TYPE> fromOctets(
      mimeContentTypeTryDecodeCstr(octets, static_cast<kxInt>(size), mo.get()));
  FUZZ_CHECK(!fromString == !fromOctets);
  FUZZ_CHECK(!fromString || mimeContentTypeEquals(fromString.get(), fromOctets.get()));
  fuzz::Ref<KX_STRING> text(fuzz::consumeString(in, 4096));
  fuzz::Ref<MIME_CONTENT_TYPE> type(mimeContentTypeTryDecode(text.get(), mo.get()));
  if (!type) return 0;
  FUZZ_CHECK(mimeContentTypeNameOk(fuzz::Ref<KX_STRING>(mimeContentTypeName(type.get())).get()));
  fuzz::Ref<KX_STRING> encoded(mimeContentTypeEncode(type.get(), mo.get(), 14));
  fuzz::Ref<MIME_CONTENT_TYPE> again(mimeContentTypeTryDecode(encoded.get(), mo.get()));
  FUZZ_CHECK(again);
  return 0;
}
