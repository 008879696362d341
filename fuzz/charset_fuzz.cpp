// Charset conversions on any octets in every charset: never abort; strict decoding either fails or agrees
// with lenient decoding, and text that converts back gives a string again.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  kxInt charset = in.ConsumeIntegralInRange<kxInt>(0, KX_CHARSET_COUNT - 1);
  fuzz::Ref<KX_BUFFER> octets(fuzz::bufferFrom(in.ConsumeRemainingBytesAsString()));
  fuzz::Ref<KX_STRING> lenient(kxCharsetConvertBufferToString(octets.get(), charset));
  FUZZ_CHECK(lenient);
  fuzz::Ref<KX_STRING> strict(kxCharsetTryConvertBufferToStringWithFlags(octets.get(), charset, KX_CHARSET_FLAG_STRICT));
  if (strict) {
    FUZZ_CHECK(kxStringEquals(strict.get(), lenient.get()));
    fuzz::Ref<KX_BUFFER> back(kxCharsetConvertStringToBuffer(strict.get(), charset));
    if (back) {
      fuzz::Ref<KX_STRING> again(kxCharsetConvertBufferToString(back.get(), charset));
      FUZZ_CHECK(kxStringEquals(again.get(), strict.get()));
    }
  }
  return 0;
}
