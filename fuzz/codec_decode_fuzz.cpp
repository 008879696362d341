// Both body decoders on any octets: never abort; what decodes re-encodes and decodes to the same octets.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  fuzz::Ref<KX_BUFFER> text(kxBufferCreateFromBytes(data, static_cast<kxInt>(size)));
  fuzz::Ref<RFC_BASE_OPTIONS> bo(rfcBaseOptionsCreate());
  fuzz::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  fuzz::Ref<KX_BUFFER> base(rfcBaseTryDecodeWithOptions(text.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  if (base) {
    fuzz::Ref<KX_BUFFER> again(rfcBaseEncodeWithOptions(base.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
    fuzz::Ref<KX_BUFFER> back(rfcBaseTryDecodeWithOptions(again.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
    FUZZ_CHECK(back && fuzz::sameBytes(back.get(), base.get()));
  }
  fuzz::Ref<KX_BUFFER> quop(rfcQuopTryDecodeWithOptions(text.get(), qo.get()));
  if (quop) {
    fuzz::Ref<KX_BUFFER> again(rfcQuopEncodeWithOptions(quop.get(), qo.get()));
    fuzz::Ref<KX_BUFFER> back(rfcQuopTryDecodeWithOptions(again.get(), qo.get()));
    FUZZ_CHECK(back && fuzz::sameBytes(back.get(), quop.get()));
  }
  return 0;
}
