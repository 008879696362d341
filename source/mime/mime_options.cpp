// MIME_OPTIONS: its fields, each a default marker and a value, with copy-on-write setters, an order, and
// persistence through kx stores. One table describes every field (its store key, how it is stored, its
// default and what it accepts); creation, copying, the order, storing and restoring walk that table, and the
// public accessors of each field come from one macro row.
#include "mime/mime_options.h"

#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"

namespace {

// The fields, in the order of the compare function and of the store's keys.
enum Field : kxInt {
  kFlags,
  kWrapLineLength,
  kRfc2231Charset,
  kRfc2231MaxSegmentLength,
  kRfcBaseOptions,
  kRfcQuopOptions,
  kHeaderFallbackCharset,
  kFirstReaderLimit,  // then one field per MIME_READER_LIMIT_*
  kFieldCount = kFirstReaderLimit + MIME_READER_LIMIT_COUNT
};

}  // namespace

// One slot per field. A value field holds its value in `value` and no object; a codec option field holds
// its object (owned, never null after creation) and no value.
struct MIME_OPTIONS {
  KX_OBJ obj;
  struct Slot {
    kxBool isDefault;  // true while the field holds its default (set by creation or the default setter)
    kxInt value;
    KX_OBJ *object;
  } slots[kFieldCount];
};

MIME_DEFINE_SORT_RECORD(MIME_OPTIONS, mime___OptionsFreeFunc, mime___OptionsCompFunc, nullptr);
MIME_DEFINE_OBJECT_FAMILY(Options, MIME_OPTIONS)

using kx::Ref;

namespace {

// How a field stands in a store.
enum class Form {
  Integer,      // the value as an integer entry
  Charset,      // the kx name of the charset as a text entry
  Flags,        // mimeFlagsToString of the flags as a text entry
  BaseOptions,  // rfcBaseOptionsStore of the object as a nested store
  QuopOptions,  // rfcQuopOptionsStore of the object as a nested store
};

struct FieldRule {
  const char *key;
  Form form;
  kxInt defaultValue;      // a value field's default
  bool (*usable)(kxInt);   // a value field: what its setter accepts and a restored entry must hold
  kxInt (*normal)(kxInt);  // a value field: the form its value is kept in (null: as given)
};

const FieldRule &ruleOf(kxInt field);
void requireReference(MIME_OPTIONS **mo);
void setValue(MIME_OPTIONS **mo, kxInt field, kxInt value);
void setObject(MIME_OPTIONS **mo, kxInt field, KX_OBJ *object);
void setDefault(MIME_OPTIONS **mo, kxInt field);
void storeField(KX_STORE **store, const FieldRule &rule, const MIME_OPTIONS::Slot &slot, kxBool full);
void restoreField(MIME_OPTIONS **mo, kxInt field, KX_STORE *store);
kxInt compareInts(kxInt a, kxInt b);
kxInt compareOptionalObjects(KX_OBJ *a, KX_OBJ *b);

}  // namespace

extern "C" {

MIME_OPTIONS *mimeOptionsCreate(void) {
  // Zero-filled: both codec option fields start null, then every field takes its default in table order.
  MIME_OPTIONS *mo = mime::createObject<MIME_OPTIONS>(&mime___sort_MIME_OPTIONS);
  for (kxInt field = 0; field < kFieldCount; ++field) setDefault(&mo, field);
  return mo;
}

MIME_OPTIONS *mimeOptionsCreateFrom(MIME_OPTIONS *source) {
  MIME_ASSERT(source);
  MIME_OPTIONS *mo = mime::createObject<MIME_OPTIONS>(&mime___sort_MIME_OPTIONS);
  for (kxInt field = 0; field < kFieldCount; ++field) {
    mo->slots[field] = source->slots[field];
    mime::retainField(mo->slots[field].object);
  }
  return mo;
}

}  // extern "C"

// --- the accessors of each field ---

// The marker getter and the default setter, alike for every field.
#define MIME_OPTIONS_MARKER(Name, field)                             \
  extern "C" kxBool mimeOptions##Name##Default(MIME_OPTIONS *mo) {   \
    MIME_ASSERT(mo);                                                 \
    return mo->slots[field].isDefault;                               \
  }                                                                  \
  extern "C" void mimeOptionsSet##Name##Default(MIME_OPTIONS **mo) { \
    requireReference(mo);                                            \
    setDefault(mo, field);                                           \
  }

// A value field: the getter, the setter with its precondition (written once: its text is the abort's, and
// the same test decides whether a restored entry is usable), the marker getter and the default setter.
#define MIME_OPTIONS_VALUE_FIELD(Name, field, parameter, precondition)                    \
  namespace {                                                                             \
  bool usable##Name([[maybe_unused]] kxInt parameter) {                                   \
    return precondition;                                                                  \
  }                                                                                       \
  }                                                                                       \
  extern "C" kxInt mimeOptions##Name(MIME_OPTIONS *mo) {                                  \
    MIME_ASSERT(mo);                                                                      \
    return mo->slots[field].value;                                                        \
  }                                                                                       \
  extern "C" void mimeOptionsSet##Name(MIME_OPTIONS **mo, kxInt parameter) {              \
    requireReference(mo);                                                                 \
    if (!usable##Name(parameter)) kx___Abort(nullptr, __FILE__, __LINE__, #precondition); \
    setValue(mo, field, parameter);                                                       \
  }                                                                                       \
  MIME_OPTIONS_MARKER(Name, field)

// A codec option field: the getter returns a new reference; the setter retains its argument, and a null one
// aborts with the argument's name.
#define MIME_OPTIONS_CODEC_FIELD(Name, Type, field, parameter)                   \
  extern "C" Type *mimeOptions##Name(MIME_OPTIONS *mo) {                         \
    MIME_ASSERT(mo);                                                             \
    return reinterpret_cast<Type *>(mime::retainField(mo->slots[field].object)); \
  }                                                                              \
  extern "C" void mimeOptionsSet##Name(MIME_OPTIONS **mo, Type *parameter) {     \
    requireReference(mo);                                                        \
    MIME_ASSERT(parameter);                                                      \
    setObject(mo, field, kx::asObj(parameter));                                  \
  }                                                                              \
  MIME_OPTIONS_MARKER(Name, field)

// The preconditions are stringized: their spacing is the abort text, so no reformatting.
// clang-format off
MIME_OPTIONS_VALUE_FIELD(Flags, kFlags, flags, true)
MIME_OPTIONS_VALUE_FIELD(WrapLineLength, kWrapLineLength, wrapLineLength, wrapLineLength >= -1)
MIME_OPTIONS_VALUE_FIELD(Rfc2231Charset, kRfc2231Charset, charset, KX_CHARSET_OK( charset ))
MIME_OPTIONS_VALUE_FIELD(Rfc2231MaxSegmentLength, kRfc2231MaxSegmentLength, maxSegmentLength,
                         maxSegmentLength == -1 || maxSegmentLength > 0)
MIME_OPTIONS_CODEC_FIELD(RfcBaseOptions, RFC_BASE_OPTIONS, kRfcBaseOptions, bo)
MIME_OPTIONS_CODEC_FIELD(RfcQuopOptions, RFC_QUOP_OPTIONS, kRfcQuopOptions, qo)
MIME_OPTIONS_VALUE_FIELD(HeaderFallbackCharset, kHeaderFallbackCharset, charset, KX_CHARSET_OK( charset ))
// clang-format on

namespace {

bool usableReaderLimit(kxInt limit) {
  return limit >= 0;
}

// Indexed by Field; every field has its row.
constexpr FieldRule kFieldRules[kFieldCount] = {
    {"flags", Form::Flags, MIME_OPTIONS_DEFAULT_FLAGS, usableFlags, mimeFlagsNormalize},
    {"wrapLineLength", Form::Integer, MIME_OPTIONS_DEFAULT_WRAP_LINE_LENGTH, usableWrapLineLength, nullptr},
    {"rfc2231Charset", Form::Charset, MIME_OPTIONS_DEFAULT_RFC2231_CHARSET, usableRfc2231Charset, nullptr},
    {"rfc2231MaxSegmentLength", Form::Integer, MIME_OPTIONS_DEFAULT_RFC2231_MAX_SEGMENT_LENGTH,
     usableRfc2231MaxSegmentLength, nullptr},
    {"rfcBaseOptions", Form::BaseOptions, 0, nullptr, nullptr},
    {"rfcQuopOptions", Form::QuopOptions, 0, nullptr, nullptr},
    {"headerFallbackCharset", Form::Charset, MIME_OPTIONS_DEFAULT_HEADER_FALLBACK_CHARSET,
     usableHeaderFallbackCharset, nullptr},
    {"readerMaxHeaderFields", Form::Integer, 10000, usableReaderLimit, nullptr},
    {"readerMaxParameters", Form::Integer, 1000, usableReaderLimit, nullptr},
    {"readerMaxParts", Form::Integer, 100000, usableReaderLimit, nullptr},
    {"readerMaxDepth", Form::Integer, 100, usableReaderLimit, nullptr},
};
static_assert(kFieldRules[kFieldCount - 1].key != nullptr, "a field without its row");

const FieldRule &ruleOf(kxInt field) {
  return kFieldRules[field];
}

}  // namespace

// --- reader limits: four fields behind one set of accessors ---

extern "C" {

kxInt mimeOptionsReaderLimit(MIME_OPTIONS *mo, kxInt which) {
  MIME_ASSERT(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  return mo->slots[kFirstReaderLimit + which].value;
}

void mimeOptionsSetReaderLimit(MIME_OPTIONS **mo, kxInt which, kxInt limit) {
  requireReference(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  MIME_ASSERT(limit >= 0);
  setValue(mo, kFirstReaderLimit + which, limit);
}

kxBool mimeOptionsReaderLimitDefault(MIME_OPTIONS *mo, kxInt which) {
  MIME_ASSERT(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  return mo->slots[kFirstReaderLimit + which].isDefault;
}

void mimeOptionsSetReaderLimitDefault(MIME_OPTIONS **mo, kxInt which) {
  requireReference(mo);
  // clang-format off
  MIME_ASSERT(MIME_READER_LIMIT_OK( which ));
  // clang-format on
  setDefault(mo, kFirstReaderLimit + which);
}

// --- persistence ---

KX_STORE *mimeOptionsStore(MIME_OPTIONS *mo, kxBool full) {
  MIME_ASSERT(mo);
  Ref<KX_STORE> store(kxStoreCreate());
  for (kxInt field = 0; field < kFieldCount; ++field)
    storeField(store.addr(), ruleOf(field), mo->slots[field], full);
  return store.release();
}

MIME_OPTIONS *mimeOptionsRestore(KX_STORE *store) {
  MIME_ASSERT(store);
  Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
  for (kxInt field = 0; field < kFieldCount; ++field) restoreField(mo.addr(), field, store);
  return mo.release();
}

// --- sort functions ---

void mime___OptionsFreeFunc(KX_OBJ *obj) {
  auto *mo = reinterpret_cast<MIME_OPTIONS *>(obj);
  for (auto &slot : mo->slots) {
    if (slot.object) mime::killField(&slot.object);
  }
}

// Field by field, each marker before its value: a field at its default sorts after the same value set
// explicitly.
kxInt mime___OptionsCompFunc(KX_OBJ *thisObj, KX_OBJ *thatObj) {
  MIME_ASSERT(thisObj);
  MIME_ASSERT(thatObj);
  const auto *a = reinterpret_cast<MIME_OPTIONS *>(thisObj);
  const auto *b = reinterpret_cast<MIME_OPTIONS *>(thatObj);
  for (kxInt field = 0; field < kFieldCount; ++field) {
    const MIME_OPTIONS::Slot &x = a->slots[field];
    const MIME_OPTIONS::Slot &y = b->slots[field];
    if (kxInt order = compareInts(x.isDefault, y.isDefault)) return order;
    if (kxInt order = compareInts(x.value, y.value)) return order;
    if (kxInt order = compareOptionalObjects(x.object, y.object)) return order;
  }
  return 0;
}

}  // extern "C"

namespace {

// --- setter steps ---

// Step 1 of every changer: the address and the reference at it must be there.
void requireReference(MIME_OPTIONS **mo) {
  MIME_ASSERT(mo);
  MIME_ASSERT(*mo);
}

// Step 2: a shared object is replaced by a private copy in the caller's reference.
MIME_OPTIONS::Slot &writableSlot(MIME_OPTIONS **mo, kxInt field) {
  mime::makePrivate(mo, mimeOptionsCreateFrom);
  return (*mo)->slots[field];
}

void setValue(MIME_OPTIONS **mo, kxInt field, kxInt value) {
  const FieldRule &rule = ruleOf(field);
  MIME_OPTIONS::Slot &slot = writableSlot(mo, field);
  slot.value = rule.normal ? rule.normal(value) : value;
  slot.isDefault = 0;
}

// Setting the object a field already holds is safe: it is retained before the old one is released.
void setObject(MIME_OPTIONS **mo, kxInt field, KX_OBJ *object) {
  MIME_OPTIONS::Slot &slot = writableSlot(mo, field);
  mime::replaceField(&slot.object, object);
  slot.isDefault = 0;
}

// A codec option field gets a fresh object each time, never the one it replaces; Base64 lines are folded
// at 76 by default in mail, where the codec alone does not fold.
Ref<KX_OBJ> freshDefaultObject(Form form) {
  if (form == Form::QuopOptions) return Ref<KX_OBJ>(kx::asObj(rfcQuopOptionsCreate()));
  Ref<RFC_BASE_OPTIONS> fresh(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(fresh.addr(), MIME_OPTIONS_DEFAULT_BASE_OUTPUT_LINE_LENGTH);
  return Ref<KX_OBJ>(kx::asObj(fresh.release()));
}

void setDefault(MIME_OPTIONS **mo, kxInt field) {
  const FieldRule &rule = ruleOf(field);
  MIME_OPTIONS::Slot &slot = writableSlot(mo, field);
  if (rule.form == Form::BaseOptions || rule.form == Form::QuopOptions)
    mime::replaceField(&slot.object, freshDefaultObject(rule.form).get());
  else
    slot.value = rule.defaultValue;
  slot.isDefault = 1;
}

// --- storing: only the explicit fields, or every field when full ---

void storeField(KX_STORE **store, const FieldRule &rule, const MIME_OPTIONS::Slot &slot, kxBool full) {
  if (!full && slot.isDefault) return;
  switch (rule.form) {
    case Form::Integer:
      kxStoreSetValueIntCstr(store, rule.key, -1, slot.value);
      return;
    case Form::Charset:
      kxStoreSetValueCstr(store, rule.key, -1, Ref<KX_STRING>(kxCharsetToString(slot.value)).get());
      return;
    case Form::Flags:
      kxStoreSetValueCstr(store, rule.key, -1, Ref<KX_STRING>(mimeFlagsToString(slot.value)).get());
      return;
    case Form::BaseOptions: {
      Ref<KX_STORE> sub(rfcBaseOptionsStore(reinterpret_cast<RFC_BASE_OPTIONS *>(slot.object), full));
      kxStoreSetStoreCstr(store, rule.key, -1, sub.get());
      return;
    }
    case Form::QuopOptions: {
      Ref<KX_STORE> sub(rfcQuopOptionsStore(reinterpret_cast<RFC_QUOP_OPTIONS *>(slot.object), full));
      kxStoreSetStoreCstr(store, rule.key, -1, sub.get());
      return;
    }
  }
}

// --- restoring: an entry is used only when it is present and usable ---

// The value an entry of a value field holds, or nothing when the entry is missing or of the wrong kind.
bool restoredValue(const FieldRule &rule, KX_STORE *store, kxInt *value) {
  if (rule.form == Form::Integer) return kxStoreValueIntCstr(store, rule.key, -1, value);
  Ref<KX_STRING> text(kxStoreValueCstr(store, rule.key, -1));
  if (!text) return false;
  *value = rule.form == Form::Flags ? mimeFlagsFromString(text.get()) : kxCharsetFromString(text.get());
  return true;
}

// The object an entry of a codec option field describes, or null.
Ref<KX_OBJ> restoredObject(const FieldRule &rule, KX_STORE *store) {
  Ref<KX_STORE> sub(kxStoreStoreCstr(store, rule.key, -1));
  if (!sub) return {};
  if (rule.form == Form::BaseOptions) return Ref<KX_OBJ>(kx::asObj(rfcBaseOptionsRestore(sub.get())));
  return Ref<KX_OBJ>(kx::asObj(rfcQuopOptionsRestore(sub.get())));
}

void restoreField(MIME_OPTIONS **mo, kxInt field, KX_STORE *store) {
  const FieldRule &rule = ruleOf(field);
  if (rule.form == Form::BaseOptions || rule.form == Form::QuopOptions) {
    Ref<KX_OBJ> object(restoredObject(rule, store));
    if (object) setObject(mo, field, object.get());
    return;
  }
  kxInt value = 0;
  if (restoredValue(rule, store, &value) && rule.usable(value)) setValue(mo, field, value);
}

// --- order ---

kxInt compareInts(kxInt a, kxInt b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// A missing object sorts before a present one; two present ones order by kxObjCompare.
kxInt compareOptionalObjects(KX_OBJ *a, KX_OBJ *b) {
  if (!a || !b) return compareInts(a != nullptr, b != nullptr);
  return kxObjCompare(a, b);
}

}  // namespace
