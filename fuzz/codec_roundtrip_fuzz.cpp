// Base64 and quoted-printable encode then decode give back any octets at any line length.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  fuzz::Ref<RFC_BASE_OPTIONS> bo(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(bo.addr(), in.ConsumeIntegralInRange<kxInt>(0, 120));
  fuzz::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  rfcQuopOptionsSetOutputLineLength(qo.addr(), in.ConsumeIntegralInRange<kxInt>(4, 120));
  fuzz::Ref<KX_BUFFER> octets(fuzz::bufferFrom(in.ConsumeRemainingBytesAsString()));
  fuzz::Ref<KX_BUFFER> base(rfcBaseEncodeWithOptions(octets.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  FUZZ_CHECK(kxBufferLength(base.get()) == rfcBaseEncodedLength(octets.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  fuzz::Ref<KX_BUFFER> baseBack(rfcBaseTryDecodeWithOptions(base.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  FUZZ_CHECK(baseBack && fuzz::sameBytes(baseBack.get(), octets.get()));
  fuzz::Ref<KX_BUFFER> quop(rfcQuopEncodeWithOptions(octets.get(), qo.get()));
  FUZZ_CHECK(quop && kxBufferLength(quop.get()) == rfcQuopEncodedLength(octets.get(), qo.get()));
  fuzz::Ref<KX_BUFFER> quopBack(rfcQuopTryDecodeWithOptions(quop.get(), qo.get()));
  FUZZ_CHECK(quopBack && fuzz::sameBytes(quopBack.get(), octets.get()));
  return 0;
}
