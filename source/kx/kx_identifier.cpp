// Identifiers: 128 bits from the kernel's random generator, so that two identifiers made anywhere (other
// threads, other processes, other hosts) are all but certainly distinct. Text: 32 lower-case hex digits.
#include "kx/kx_identifier.h"

#include <cstring>

#include "kx/kx_internal.hpp"
#include "kx/kx_random.h"

struct KX_IDENTIFIER {
  KX_OBJ obj;
  kxByte bits[16];  // most significant octet first, as the text shows them
};

namespace {
kxInt compareIdentifiers(KX_OBJ *a, KX_OBJ *b);
KX_STRING *identifierToString(KX_OBJ *obj);
}  // namespace

KX_SORT kx___sort_KX_IDENTIFIER = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                                   nullptr,
                                   "KX_IDENTIFIER",
                                   nullptr,
                                   compareIdentifiers,
                                   identifierToString,
                                   {}};

KX_DEFINE_KIND_BASICS(Identifier, KX_IDENTIFIER)

extern "C" KX_IDENTIFIER *kxIdentifierCreate(void) {
  auto *id =
      reinterpret_cast<KX_IDENTIFIER *>(kx___ObjCreate(sizeof(KX_IDENTIFIER), &kx___sort_KX_IDENTIFIER));
  // Straight from the kernel, not from the per-thread generator: a forked child or a test's replaced
  // source must never repeat identifiers.
  kxRandomKernelBytes(id->bits, sizeof id->bits);
  return id;
}

// --- sort functions ---

namespace {

const KX_IDENTIFIER *asIdentifier(KX_OBJ *obj) {
  return reinterpret_cast<const KX_IDENTIFIER *>(obj);
}

// By the bits, most significant octet first: the same order as the texts.
kxInt compareIdentifiers(KX_OBJ *a, KX_OBJ *b) {
  return kx::sign(std::memcmp(asIdentifier(a)->bits, asIdentifier(b)->bits, sizeof asIdentifier(a)->bits));
}

KX_STRING *identifierToString(KX_OBJ *obj) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  char text[32];
  const kxByte *bits = asIdentifier(obj)->bits;
  for (int i = 0; i < 16; ++i) {
    text[2 * i] = kHexDigits[bits[i] >> 4];
    text[2 * i + 1] = kHexDigits[bits[i] & 0x0F];
  }
  return kxStringCreateFromCstr(text, sizeof text);
}

}  // namespace
