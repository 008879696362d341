// Content-Transfer-Encoding and Content-ID decoding on any text: never aborts, results are in range and
// a decoded Content-ID encodes back.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  FuzzedDataProvider in(data, size);
  fuzz::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  fuzz::Ref<KX_STRING> cteText(fuzz::consumeString(in, 256));
  kxInt cte = mimeContentTransferEncodingTryDecode(cteText.get(), mo.get());
  FUZZ_CHECK(cte >= -1 && cte <= 4);
  fuzz::Ref<KX_STRING> cidText(fuzz::consumeString(in, 256));
  fuzz::Ref<KX_STRING> cid(mimeContentIdTryDecode(cidText.get()));
  if (cid) {
    FUZZ_CHECK(mimeContentIdOk(cid.get()));
    fuzz::Ref<KX_STRING> encoded(mimeContentIdEncode(cid.get()));
    fuzz::Ref<KX_STRING> back(mimeContentIdTryDecode(encoded.get()));
    FUZZ_CHECK(back && kxStringEquals(back.get(), cid.get()));
  }
  return 0;
}
