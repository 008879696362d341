// MIME_OPTIONS: its fields, each a default marker and a value, with copy-on-write setters, an order, and
// persistence through kx stores.
#include "mime/mime_options.h"

#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"

// Each marker is true while its field holds the default (set by creation or by the default setter).
struct MIME_OPTIONS {
  KX_OBJ obj;
  kxBool flagsDefault;
  kxInt flags;  // normalised MIME flags
  kxBool wrapLineLengthDefault;
  kxInt wrapLineLength;  // -1: never fold
  kxBool rfc2231CharsetDefault;
  kxInt rfc2231Charset;  // KX_CHARSET_OK
  kxBool rfc2231MaxSegmentLengthDefault;
  kxInt rfc2231MaxSegmentLength;  // -1: never split, otherwise above 0
  kxBool rfcBaseOptionsDefault;
  RFC_BASE_OPTIONS *rfcBaseOptions;  // owned, never null after creation
  kxBool rfcQuopOptionsDefault;
  RFC_QUOP_OPTIONS *rfcQuopOptions;  // owned, never null after creation
  kxBool headerFallbackCharsetDefault;
  kxInt headerFallbackCharset;  // KX_CHARSET_OK
  kxBool readerLimitDefault[MIME_READER_LIMIT_COUNT];
  kxInt readerLimit[MIME_READER_LIMIT_COUNT];  // 0 or more
};

namespace {
// Indexed by MIME_READER_LIMIT_*.
constexpr kxInt kReaderLimitDefaults[MIME_READER_LIMIT_COUNT] = {10000, 1000, 100000, 100};
constexpr const char *kReaderLimitKeys[MIME_READER_LIMIT_COUNT] = {
    "readerMaxHeaderFields", "readerMaxParameters", "readerMaxParts", "readerMaxDepth"};
}  // namespace

MIME_DEFINE_SORT_RECORD(MIME_OPTIONS, mime___OptionsFreeFunc, mime___OptionsCompFunc, nullptr);
MIME_DEFINE_OBJECT_FAMILY(Options, MIME_OPTIONS)

using mime::Ref;

namespace {
void requireReference(MIME_OPTIONS **mo);
MIME_OPTIONS *writable(MIME_OPTIONS **mo);
void restoreFlags(MIME_OPTIONS **mo, KX_STORE *store);
void restoreWrapLineLength(MIME_OPTIONS **mo, KX_STORE *store);
void restoreRfc2231Charset(MIME_OPTIONS **mo, KX_STORE *store);
void restoreRfc2231MaxSegmentLength(MIME_OPTIONS **mo, KX_STORE *store);
void restoreRfcBaseOptions(MIME_OPTIONS **mo, KX_STORE *store);
void restoreRfcQuopOptions(MIME_OPTIONS **mo, KX_STORE *store);
void restoreHeaderFallbackCharset(MIME_OPTIONS **mo, KX_STORE *store);
void restoreReaderLimits(MIME_OPTIONS **mo, KX_STORE *store);
kxInt compareInts(kxInt a, kxInt b);
kxInt compareOptionalObjects(void *a, void *b);
}  // namespace

extern "C" {

MIME_OPTIONS *mimeOptionsCreate(void) {
  MIME_OPTIONS *mo = mime::createObject<MIME_OPTIONS>(&mime___sort_MIME_OPTIONS);
  mo->rfcBaseOptions = nullptr;
  mo->rfcQuopOptions = nullptr;
  mimeOptionsSetFlagsDefault(&mo);
  mimeOptionsSetWrapLineLengthDefault(&mo);
  mimeOptionsSetRfc2231CharsetDefault(&mo);
  mimeOptionsSetRfc2231MaxSegmentLengthDefault(&mo);
  mimeOptionsSetRfcBaseOptionsDefault(&mo);
  mimeOptionsSetRfcQuopOptionsDefault(&mo);
  mimeOptionsSetHeaderFallbackCharsetDefault(&mo);
  for (kxInt which = 0; which < MIME_READER_LIMIT_COUNT; ++which)
    mimeOptionsSetReaderLimitDefault(&mo, which);
  return mo;
}

MIME_OPTIONS *mimeOptionsCreateFrom(MIME_OPTIONS *source) {
  MIME_ASSERT(source);
  MIME_OPTIONS *mo = mime::createObject<MIME_OPTIONS>(&mime___sort_MIME_OPTIONS);
  mo->flagsDefault = source->flagsDefault;
  mo->flags = source->flags;
  mo->wrapLineLengthDefault = source->wrapLineLengthDefault;
  mo->wrapLineLength = source->wrapLineLength;
  mo->rfc2231CharsetDefault = source->rfc2231CharsetDefault;
  mo->rfc2231Charset = source->rfc2231Charset;
  mo->rfc2231MaxSegmentLengthDefault = source->rfc2231MaxSegmentLengthDefault;
  mo->rfc2231MaxSegmentLength = source->rfc2231MaxSegmentLength;
  mo->rfcBaseOptionsDefault = source->rfcBaseOptionsDefault;
  mo->rfcBaseOptions = mime::retainField(source->rfcBaseOptions);
  mo->rfcQuopOptionsDefault = source->rfcQuopOptionsDefault;
  mo->rfcQuopOptions = mime::retainField(source->rfcQuopOptions);
  mo->headerFallbackCharsetDefault = source->headerFallbackCharsetDefault;
  mo->headerFallbackCharset = source->headerFallbackCharset;
  for (kxInt which = 0; which < MIME_READER_LIMIT_COUNT; ++which) {
    mo->readerLimitDefault[which] = source->readerLimitDefault[which];
    mo->readerLimit[which] = source->readerLimit[which];
  }
  return mo;
}

// --- flags ---

kxInt mimeOptionsFlags(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->flags;
}

void mimeOptionsSetFlags(MIME_OPTIONS **mo, kxInt flags) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  o->flags = mimeFlagsNormalize(flags);
  o->flagsDefault = 0;
}

kxBool mimeOptionsFlagsDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->flagsDefault;
}

void mimeOptionsSetFlagsDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  o->flags = MIME_OPTIONS_DEFAULT_FLAGS;
  o->flagsDefault = 1;
}

// --- wrap line length ---

kxInt mimeOptionsWrapLineLength(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->wrapLineLength;
}

void mimeOptionsSetWrapLineLength(MIME_OPTIONS **mo, kxInt wrapLineLength) {
  requireReference(mo);
  MIME_ASSERT(wrapLineLength >= -1);
  MIME_OPTIONS *o = writable(mo);
  o->wrapLineLength = wrapLineLength;
  o->wrapLineLengthDefault = 0;
}

kxBool mimeOptionsWrapLineLengthDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->wrapLineLengthDefault;
}

void mimeOptionsSetWrapLineLengthDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  o->wrapLineLength = MIME_OPTIONS_DEFAULT_WRAP_LINE_LENGTH;
  o->wrapLineLengthDefault = 1;
}

// --- RFC 2231 charset ---

kxInt mimeOptionsRfc2231Charset(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->rfc2231Charset;
}

void mimeOptionsSetRfc2231Charset(MIME_OPTIONS **mo, kxInt charset) {
  requireReference(mo);
  // No reformatting: the expression text is part of the contract.
  // clang-format off
  MIME_ASSERT(KX_CHARSET_OK( charset ));
  // clang-format on
  MIME_OPTIONS *o = writable(mo);
  o->rfc2231Charset = charset;
  o->rfc2231CharsetDefault = 0;
}

kxBool mimeOptionsRfc2231CharsetDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->rfc2231CharsetDefault;
}

void mimeOptionsSetRfc2231CharsetDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  o->rfc2231Charset = MIME_OPTIONS_DEFAULT_RFC2231_CHARSET;
  o->rfc2231CharsetDefault = 1;
}

// --- RFC 2231 section length ---

kxInt mimeOptionsRfc2231MaxSegmentLength(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->rfc2231MaxSegmentLength;
}

void mimeOptionsSetRfc2231MaxSegmentLength(MIME_OPTIONS **mo, kxInt maxSegmentLength) {
  requireReference(mo);
  MIME_ASSERT(maxSegmentLength == -1 || maxSegmentLength > 0);
  MIME_OPTIONS *o = writable(mo);
  o->rfc2231MaxSegmentLength = maxSegmentLength;
  o->rfc2231MaxSegmentLengthDefault = 0;
}

kxBool mimeOptionsRfc2231MaxSegmentLengthDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->rfc2231MaxSegmentLengthDefault;
}

void mimeOptionsSetRfc2231MaxSegmentLengthDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  o->rfc2231MaxSegmentLength = MIME_OPTIONS_DEFAULT_RFC2231_MAX_SEGMENT_LENGTH;
  o->rfc2231MaxSegmentLengthDefault = 1;
}

// --- Base64 codec options ---

RFC_BASE_OPTIONS *mimeOptionsRfcBaseOptions(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mime::retainField(mo->rfcBaseOptions);
}

void mimeOptionsSetRfcBaseOptions(MIME_OPTIONS **mo, RFC_BASE_OPTIONS *bo) {
  requireReference(mo);
  MIME_ASSERT(bo);
  MIME_OPTIONS *o = writable(mo);
  mime::replaceField(&o->rfcBaseOptions, bo);
  o->rfcBaseOptionsDefault = 0;
}

kxBool mimeOptionsRfcBaseOptionsDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->rfcBaseOptionsDefault;
}

void mimeOptionsSetRfcBaseOptionsDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  Ref<RFC_BASE_OPTIONS> fresh(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(fresh.addr(), MIME_OPTIONS_DEFAULT_BASE_OUTPUT_LINE_LENGTH);
  mime::replaceField(&o->rfcBaseOptions, fresh.get());
  o->rfcBaseOptionsDefault = 1;
}

// --- quoted-printable codec options ---

RFC_QUOP_OPTIONS *mimeOptionsRfcQuopOptions(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mime::retainField(mo->rfcQuopOptions);
}

void mimeOptionsSetRfcQuopOptions(MIME_OPTIONS **mo, RFC_QUOP_OPTIONS *qo) {
  requireReference(mo);
  MIME_ASSERT(qo);
  MIME_OPTIONS *o = writable(mo);
  mime::replaceField(&o->rfcQuopOptions, qo);
  o->rfcQuopOptionsDefault = 0;
}

kxBool mimeOptionsRfcQuopOptionsDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->rfcQuopOptionsDefault;
}

void mimeOptionsSetRfcQuopOptionsDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  Ref<RFC_QUOP_OPTIONS> fresh(rfcQuopOptionsCreate());
  mime::replaceField(&o->rfcQuopOptions, fresh.get());
  o->rfcQuopOptionsDefault = 1;
}

// --- header fallback charset ---

kxInt mimeOptionsHeaderFallbackCharset(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->headerFallbackCharset;
}

void mimeOptionsSetHeaderFallbackCharset(MIME_OPTIONS **mo, kxInt charset) {
  requireReference(mo);
  // clang-format off
  MIME_ASSERT(KX_CHARSET_OK( charset ));
  // clang-format on
  MIME_OPTIONS *o = writable(mo);
  o->headerFallbackCharset = charset;
  o->headerFallbackCharsetDefault = 0;
}

kxBool mimeOptionsHeaderFallbackCharsetDefault(MIME_OPTIONS *mo) {
  MIME_ASSERT(mo);
  return mo->headerFallbackCharsetDefault;
}

void mimeOptionsSetHeaderFallbackCharsetDefault(MIME_OPTIONS **mo) {
  requireReference(mo);
  MIME_OPTIONS *o = writable(mo);
  o->headerFallbackCharset = MIME_OPTIONS_DEFAULT_HEADER_FALLBACK_CHARSET;
  o->headerFallbackCharsetDefault = 1;
}

// --- reader limits ---

kxInt mimeOptionsReaderLimit(MIME_OPTIONS *mo, kxInt which) {
  MIME_ASSERT(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  return mo->readerLimit[which];
}

void mimeOptionsSetReaderLimit(MIME_OPTIONS **mo, kxInt which, kxInt limit) {
  requireReference(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  MIME_ASSERT(limit >= 0);
  MIME_OPTIONS *o = writable(mo);
  o->readerLimit[which] = limit;
  o->readerLimitDefault[which] = 0;
}

kxBool mimeOptionsReaderLimitDefault(MIME_OPTIONS *mo, kxInt which) {
  MIME_ASSERT(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  return mo->readerLimitDefault[which];
}

void mimeOptionsSetReaderLimitDefault(MIME_OPTIONS **mo, kxInt which) {
  requireReference(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  MIME_OPTIONS *o = writable(mo);
  o->readerLimit[which] = kReaderLimitDefaults[which];
  o->readerLimitDefault[which] = 1;
}

// --- persistence ---

KX_STORE *mimeOptionsStore(MIME_OPTIONS *mo, kxBool full) {
  MIME_ASSERT(mo);
  Ref<KX_STORE> store(kxStoreCreate());
  if (full || !mo->flagsDefault) {
    Ref<KX_STRING> text(mimeFlagsToString(mo->flags));
    kxStoreSetValueCstr(store.addr(), "flags", -1, text.get());
  }
  if (full || !mo->wrapLineLengthDefault)
    kxStoreSetValueIntCstr(store.addr(), "wrapLineLength", -1, mo->wrapLineLength);
  if (full || !mo->rfc2231CharsetDefault) {
    Ref<KX_STRING> name(kxCharsetToString(mo->rfc2231Charset));
    kxStoreSetValueCstr(store.addr(), "rfc2231Charset", -1, name.get());
  }
  if (full || !mo->rfc2231MaxSegmentLengthDefault)
    kxStoreSetValueIntCstr(store.addr(), "rfc2231MaxSegmentLength", -1, mo->rfc2231MaxSegmentLength);
  if (full || !mo->rfcBaseOptionsDefault) {
    Ref<KX_STORE> sub(rfcBaseOptionsStore(mo->rfcBaseOptions, full));
    kxStoreSetStoreCstr(store.addr(), "rfcBaseOptions", -1, sub.get());
  }
  if (full || !mo->rfcQuopOptionsDefault) {
    Ref<KX_STORE> sub(rfcQuopOptionsStore(mo->rfcQuopOptions, full));
    kxStoreSetStoreCstr(store.addr(), "rfcQuopOptions", -1, sub.get());
  }
  if (full || !mo->headerFallbackCharsetDefault) {
    Ref<KX_STRING> name(kxCharsetToString(mo->headerFallbackCharset));
    kxStoreSetValueCstr(store.addr(), "headerFallbackCharset", -1, name.get());
  }
  for (kxInt which = 0; which < MIME_READER_LIMIT_COUNT; ++which) {
    if (full || !mo->readerLimitDefault[which])
      kxStoreSetValueIntCstr(store.addr(), kReaderLimitKeys[which], -1, mo->readerLimit[which]);
  }
  return store.release();
}

MIME_OPTIONS *mimeOptionsRestore(KX_STORE *store) {
  MIME_ASSERT(store);
  Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  restoreFlags(mo.addr(), store);
  restoreWrapLineLength(mo.addr(), store);
  restoreRfc2231Charset(mo.addr(), store);
  restoreRfc2231MaxSegmentLength(mo.addr(), store);
  restoreRfcBaseOptions(mo.addr(), store);
  restoreRfcQuopOptions(mo.addr(), store);
  restoreHeaderFallbackCharset(mo.addr(), store);
  restoreReaderLimits(mo.addr(), store);
  return mo.release();
}

// --- sort functions ---

void mime___OptionsFreeFunc(KX_OBJ *obj) {
  auto *mo = reinterpret_cast<MIME_OPTIONS *>(obj);
  mime::killField(&mo->rfcBaseOptions);
  mime::killField(&mo->rfcQuopOptions);
}

// Field by field, each marker before its value: a field at its default sorts after the same value set
// explicitly.
kxInt mime___OptionsCompFunc(KX_OBJ *thisObj, KX_OBJ *thatObj) {
  MIME_ASSERT(thisObj);
  MIME_ASSERT(thatObj);
  const auto *a = reinterpret_cast<MIME_OPTIONS *>(thisObj);
  const auto *b = reinterpret_cast<MIME_OPTIONS *>(thatObj);
  const kxInt scalars[][2] = {
      {a->flagsDefault, b->flagsDefault},
      {a->flags, b->flags},
      {a->wrapLineLengthDefault, b->wrapLineLengthDefault},
      {a->wrapLineLength, b->wrapLineLength},
      {a->rfc2231CharsetDefault, b->rfc2231CharsetDefault},
      {a->rfc2231Charset, b->rfc2231Charset},
      {a->rfc2231MaxSegmentLengthDefault, b->rfc2231MaxSegmentLengthDefault},
      {a->rfc2231MaxSegmentLength, b->rfc2231MaxSegmentLength},
  };
  for (const auto &pair : scalars)
    if (kxInt order = compareInts(pair[0], pair[1])) return order;
  if (kxInt order = compareInts(a->rfcBaseOptionsDefault, b->rfcBaseOptionsDefault)) return order;
  if (kxInt order = compareOptionalObjects(a->rfcBaseOptions, b->rfcBaseOptions)) return order;
  if (kxInt order = compareInts(a->rfcQuopOptionsDefault, b->rfcQuopOptionsDefault)) return order;
  if (kxInt order = compareOptionalObjects(a->rfcQuopOptions, b->rfcQuopOptions)) return order;
  if (kxInt order = compareInts(a->headerFallbackCharsetDefault, b->headerFallbackCharsetDefault))
    return order;
  if (kxInt order = compareInts(a->headerFallbackCharset, b->headerFallbackCharset)) return order;
  for (kxInt which = 0; which < MIME_READER_LIMIT_COUNT; ++which) {
    if (kxInt order = compareInts(a->readerLimitDefault[which], b->readerLimitDefault[which])) return order;
    if (kxInt order = compareInts(a->readerLimit[which], b->readerLimit[which])) return order;
  }
  return 0;
}

}  // extern "C"

// --- setter steps ---

namespace {

// Step 1 of every changer: the address and the reference at it must be there.
void requireReference(MIME_OPTIONS **mo) {
  MIME_ASSERT(mo);
  MIME_ASSERT(*mo);
}

// Step 2: a shared object is replaced by a private copy in the caller's reference.
MIME_OPTIONS *writable(MIME_OPTIONS **mo) {
  mime::makePrivate(mo, mimeOptionsCreateFrom);
  return *mo;
}

// --- restoring: an entry is used only when it is present and usable ---

void restoreFlags(MIME_OPTIONS **mo, KX_STORE *store) {
  Ref<KX_STRING> text(kxStoreValueCstr(store, "flags", -1));
  if (text) mimeOptionsSetFlags(mo, mimeFlagsFromString(text.get()));
}

void restoreWrapLineLength(MIME_OPTIONS **mo, KX_STORE *store) {
  kxInt value = 0;
  if (kxStoreValueIntCstr(store, "wrapLineLength", -1, &value) && value >= -1)
    mimeOptionsSetWrapLineLength(mo, value);
}

// A charset is stored by its kx name.
void restoreCharset(MIME_OPTIONS **mo, KX_STORE *store, const char *key,
                    void (*set)(MIME_OPTIONS **, kxInt)) {
  Ref<KX_STRING> name(kxStoreValueCstr(store, key, -1));
  if (!name) return;
  kxInt charset = kxCharsetFromString(name.get());
  if (KX_CHARSET_OK(charset)) set(mo, charset);
}

void restoreRfc2231Charset(MIME_OPTIONS **mo, KX_STORE *store) {
  restoreCharset(mo, store, "rfc2231Charset", mimeOptionsSetRfc2231Charset);
}

void restoreRfc2231MaxSegmentLength(MIME_OPTIONS **mo, KX_STORE *store) {
  kxInt value = 0;
  if (kxStoreValueIntCstr(store, "rfc2231MaxSegmentLength", -1, &value) && (value == -1 || value > 0))
    mimeOptionsSetRfc2231MaxSegmentLength(mo, value);
}

void restoreRfcBaseOptions(MIME_OPTIONS **mo, KX_STORE *store) {
  Ref<KX_STORE> sub(kxStoreStoreCstr(store, "rfcBaseOptions", -1));
  if (!sub) return;
  Ref<RFC_BASE_OPTIONS> bo(rfcBaseOptionsRestore(sub.get()));
  if (bo) mimeOptionsSetRfcBaseOptions(mo, bo.get());
}

void restoreRfcQuopOptions(MIME_OPTIONS **mo, KX_STORE *store) {
  Ref<KX_STORE> sub(kxStoreStoreCstr(store, "rfcQuopOptions", -1));
  if (!sub) return;
  Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsRestore(sub.get()));
  if (qo) mimeOptionsSetRfcQuopOptions(mo, qo.get());
}

void restoreHeaderFallbackCharset(MIME_OPTIONS **mo, KX_STORE *store) {
  restoreCharset(mo, store, "headerFallbackCharset", mimeOptionsSetHeaderFallbackCharset);
}

void restoreReaderLimits(MIME_OPTIONS **mo, KX_STORE *store) {
  for (kxInt which = 0; which < MIME_READER_LIMIT_COUNT; ++which) {
    kxInt value = 0;
    if (kxStoreValueIntCstr(store, kReaderLimitKeys[which], -1, &value) && value >= 0)
      mimeOptionsSetReaderLimit(mo, which, value);
  }
}

// --- order ---

kxInt compareInts(kxInt a, kxInt b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// A missing codec option object sorts before a present one; two present ones order by kxObjCompare.
kxInt compareOptionalObjects(void *a, void *b) {
  if (!a || !b) return compareInts(a != nullptr, b != nullptr);
  return kxObjCompare(mime::asObj(a), mime::asObj(b));
}

}  // namespace
