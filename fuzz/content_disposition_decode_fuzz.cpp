// Content-Disposition decoding with and without RFC 2231 parsing: never aborts; a failure always leaves a
// reason with an offset inside the text and a success leaves none; what decodes encodes again and decodes
// to the same type; the parameter list after the type reads exactly as the same list after a media type;
// the input's octets decoded as they are read as the string made of them.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  mimeOptionsSetFlags(
      mo.addr(), in.ConsumeBool() ? MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS : 0);
  const char *octets = reinterpret_cast<const char *>(data);
  fuzz::Ref<KX_STRING> whole(kxStringCreateFromCstr(octets, static_cast<kxInt>(size)));
  fuzz::Ref<MIME_CONTENT_DISPOSITION> fromString(mimeContentDispositionTryDecode(whole.get(), mo.get()));
  fuzz::Ref<MIME_CONTENT_DISPOSITION> fromOctets(
      mimeContentDispositionTryDecodeCstr(octets, static_cast<kxInt>(size), mo.get()));
  FUZZ_CHECK(!fromString == !fromOctets);
  FUZZ_CHECK(!fromString || mimeContentDispositionEquals(fromString.get(), fromOctets.get()));
  fuzz::Ref<KX_STRING> tail(fuzz::consumeString(in, 4096));
  fuzz::Ref<KX_STRING> text(kxStringCreateFromCstr("attachment", -1));
  kxStringAppend(text.addr(), tail.get());
  fuzz::Ref<MIME_CONTENT_DISPOSITION> disposition(mimeContentDispositionTryDecode(tail.get(), mo.get()));
  const kxInt offset = mimeLastFailureOffset();
  if (!disposition) {
    FUZZ_CHECK(mimeLastFailure() != MIME_FAILURE_NONE);
    FUZZ_CHECK(offset >= -1 && offset <= kxStringLength(tail.get()));
  } else {
    FUZZ_CHECK(mimeLastFailure() == MIME_FAILURE_NONE);
    FUZZ_CHECK(mimeContentDispositionTypeOk(
        fuzz::Ref<KX_STRING>(mimeContentDispositionType(disposition.get())).get()));
  }

  // "attachment" + tail against "a/b" + tail: when both decode, their parameters are the same.
  fuzz::Ref<KX_STRING> typed(kxStringCreateFromCstr("a/b", -1));
  kxStringAppend(typed.addr(), tail.get());
  disposition.reset(mimeContentDispositionTryDecode(text.get(), mo.get()));
  fuzz::Ref<MIME_CONTENT_TYPE> type(mimeContentTypeTryDecode(typed.get(), mo.get()));
  if (disposition && type) {
    fuzz::Ref<KX_DICT> a(mimeContentDispositionParametersDict(disposition.get()));
    fuzz::Ref<KX_DICT> b(mimeContentTypeParametersDict(type.get()));
    FUZZ_CHECK(kxObjCompare(kxDictObj(a.get()), kxDictObj(b.get())) == 0);
  }
  return 0;
}
