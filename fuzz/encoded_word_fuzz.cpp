// Encoded words. Decoding any text never aborts and gives the text itself back when no word was read;
// encoding any text (any Unicode scalar values: controls, CR, LF, "=?" included) under any fold length and
// offset gives a value that, unfolded, decodes back to the text with nothing reported malformed.
#include "fuzz_support.hpp"

namespace {

KX_STRING *consumeScalarValues(FuzzedDataProvider &in) {
  std::vector<kxChar> chars(in.ConsumeIntegralInRange<size_t>(0, 300));
  for (kxChar &c : chars) {
    c = in.ConsumeBool() ? in.ConsumeIntegralInRange<kxChar>(0, 0x7f)
                         : in.ConsumeIntegralInRange<kxChar>(0, 0x10ffff);
    if (c >= 0xd800 && c <= 0xdfff) c = 0xfffd;
  }
  return kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size()));
}

// The value with every CR LF taken out, as a header reader unfolds it.
KX_STRING *unfolded(KX_STRING *value) {
  const kxChar *chars = kxStringBacking(value);
  std::vector<kxChar> out;
  for (kxInt i = 0; i < kxStringLength(value); ++i) {
    if (chars[i] == '\r' && i + 1 < kxStringLength(value) && chars[i + 1] == '\n') {
      ++i;
      continue;
    }
    out.push_back(chars[i]);
  }
  return kxStringCreateFromChars(out.data(), static_cast<kxInt>(out.size()));
}

void decodeAny(const uint8_t *data, size_t size) {
  fuzz::Ref<KX_STRING> text(
      kxStringCreateFromCstr(reinterpret_cast<const char *>(data), static_cast<kxInt>(size)));
  kxBool malformed = -1;
  fuzz::Ref<KX_STRING> decoded(mimeEncodedWordDecode(text.get(), &malformed));
  FUZZ_CHECK(decoded && (malformed == 0 || malformed == 1));
}

void roundTrip(FuzzedDataProvider &in) {
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  mimeOptionsSetWrapLineLength(mo.addr(), in.ConsumeIntegralInRange<kxInt>(-1, 200));
  const kxInt offset = in.ConsumeIntegralInRange<kxInt>(0, 100);
  fuzz::Ref<KX_STRING> text(consumeScalarValues(in));
  fuzz::Ref<KX_STRING> encoded(mimeEncodedWordEncode(text.get(), mo.get(), offset));
  fuzz::Ref<KX_STRING> value(unfolded(encoded.get()));
  kxBool malformed = -1;
  fuzz::Ref<KX_STRING> decoded(mimeEncodedWordDecode(value.get(), &malformed));
  FUZZ_CHECK(kxStringEquals(decoded.get(), text.get()));
  FUZZ_CHECK(malformed == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  if (size == 0) return 0;
  if (data[0] & 1) {
    decodeAny(data + 1, size - 1);
  } else {
    FuzzedDataProvider in(data + 1, size - 1);
    roundTrip(in);
  }
  return 0;
}
