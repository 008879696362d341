// A content type with any parameter values (any Unicode scalar values, CR and LF included) encoded with
// RFC 2231 generation and decoded with RFC 2231 parsing comes back equal, whatever the fold and section
// lengths.
#include "fuzz_support.hpp"

namespace {

constexpr char kNameChars[] = "abcdefghijklmnopqrstuvwxyz0123456789+-._";
constexpr char kKeyChars[] = "abcdefghijklmnopqrstuvwxyz0123456789!#$&+-.^_`{|}~";

std::string consumeWord(FuzzedDataProvider &in, const char *alphabet, size_t alphabetSize) {
  size_t length = in.ConsumeIntegralInRange<size_t>(1, 12);
  std::string word;
  for (size_t i = 0; i < length; ++i) word += alphabet[in.ConsumeIntegralInRange<size_t>(0, alphabetSize - 2)];
  return word;
}

KX_STRING *consumeScalarValues(FuzzedDataProvider &in) {
  std::vector<kxChar> chars(in.ConsumeIntegralInRange<size_t>(0, 200));
  for (kxChar &c : chars) {
    c = in.ConsumeBool() ? in.ConsumeIntegralInRange<kxChar>(0, 0x7f) : in.ConsumeIntegralInRange<kxChar>(0, 0x10ffff);
    if (c >= 0xd800 && c <= 0xdfff) c = 0xfffd;
  }
  return kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(fuzz::consumeOptions(in));
  mimeOptionsSetFlags(mo.addr(), MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS);
  std::string name = consumeWord(in, kNameChars, sizeof kNameChars) + "/" + consumeWord(in, kNameChars, sizeof kNameChars);
  fuzz::Ref<MIME_CONTENT_TYPE> type(mimeContentTypeCreateCstr(name.c_str(), -1));
  size_t parameters = in.ConsumeIntegralInRange<size_t>(0, 8);
  for (size_t i = 0; i < parameters; ++i) {
    std::string key = consumeWord(in, kKeyChars, sizeof kKeyChars);
    fuzz::Ref<KX_STRING> value(consumeScalarValues(in));
    mimeContentTypeSetParameterCstr(type.addr(), key.c_str(), -1, value.get());
  }
  fuzz::Ref<KX_STRING> encoded(mimeContentTypeEncode(type.get(), mo.get(), 14));
  fuzz::Ref<MIME_CONTENT_TYPE> decoded(mimeContentTypeTryDecode(encoded.get(), mo.get()));
  FUZZ_CHECK(decoded && mimeContentTypeEquals(decoded.get(), type.get()));
  return 0;
}
