// The header tokenizer on any code points: never aborts; every token it accepts keeps its shape, and
// removing comments keeps the other tokens in order.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::startModuleOnce();
  fuzz::Ref<KX_STRING> text(size && data[0] & 1 ? fuzz::stringFromCodePoints(data + 1, size - 1)
                                                : kxStringCreateFromCstr(reinterpret_cast<const char *>(data), static_cast<kxInt>(size)));
  fuzz::Ref<KX_VECTOR> tokens(mimeShfTokenVectorTryDecode(text.get()));
  if (!tokens) return 0;
  kxInt before = kxVectorLength(tokens.get());
  kxInt comments = 0;
  for (kxInt i = 0; i < before; ++i) {
    MIME_SHF_TOKEN *token = mimeShfTokenFrom(kxVectorBacking(tokens.get())[i]);
    if (mimeShfTokenType(token) == MIME_SHF_TOKEN_TYPE_COMMENT) ++comments;
    fuzz::Ref<KX_STRING> value(mimeShfTokenValue(token));  // never runs off the end for accepted tokens
  }
  mimeShfTokenVectorDelComments(tokens.addr());
  FUZZ_CHECK(kxVectorLength(tokens.get()) == before - comments);
  return 0;
}
