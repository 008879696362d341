// The store's text parser on any text: never aborts; a store it accepts prints to a text that parses to
// an equal store.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Ref<KX_STRING> text(kxStringCreateFromCstr(reinterpret_cast<const char *>(data), static_cast<kxInt>(size)));
  fuzz::Ref<KX_STORE> store(kxStoreTryDecode(text.get()));
  if (!store) return 0;
  fuzz::Ref<KX_STRING> printed(kxStoreEncode(store.get()));
  fuzz::Ref<KX_STORE> again(kxStoreTryDecode(printed.get()));
  FUZZ_CHECK(again && kxObjCompare(kxStoreObj(again.get()), kxStoreObj(store.get())) == 0);
  return 0;
}
