// MIME_OPTIONS: defaults and markers, copy-on-write setters, the order, and persistence through stores.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kx/kx.h"
#include "mime/mime.h"
#include "support/death_text.hpp"
#include "support/kx_text.hpp"

using test_support::abortText;
using test_support::StringRef;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using StoreRef = kx::Ref<KX_STORE>;

namespace {

kxInt refs(void *obj) {
  return kx___ObjRefCount(static_cast<KX_OBJ *>(obj));
}

// One row per field: how to set it explicitly, read it as an integer (the codec options by their line
// length), read its marker and put it back to the default.
struct Field {
  const char *name;
  std::function<void(MIME_OPTIONS **)> setExplicit;  // to a value that differs from the default
  std::function<kxInt(MIME_OPTIONS *)> value;
  kxBool (*marker)(MIME_OPTIONS *);
  void (*setDefault)(MIME_OPTIONS **);
  kxInt defaultValue;
};

kxInt baseLineLength(MIME_OPTIONS *mo) {
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(mo));
  return rfcBaseOptionsOutputLineLength(bo.get());
}

kxInt quopLineLength(MIME_OPTIONS *mo) {
  kx::Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(mo));
  return rfcQuopOptionsOutputLineLength(qo.get());
}

kxInt defaultQuopLineLength() {
  kx::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  return rfcQuopOptionsOutputLineLength(qo.get());
}

const std::vector<Field> &fields() {
  static const std::vector<Field> rows = {
      {"flags", [](MIME_OPTIONS **mo) { mimeOptionsSetFlags(mo, MIME_FLAG_GENERATE_EIGHT_BIT_BODY); },
       mimeOptionsFlags, mimeOptionsFlagsDefault, mimeOptionsSetFlagsDefault, 3},
      {"wrapLineLength", [](MIME_OPTIONS **mo) { mimeOptionsSetWrapLineLength(mo, 40); },
       mimeOptionsWrapLineLength, mimeOptionsWrapLineLengthDefault, mimeOptionsSetWrapLineLengthDefault, 76},
      {"rfc2231Charset", [](MIME_OPTIONS **mo) { mimeOptionsSetRfc2231Charset(mo, KX_CHARSET_ISO_8859_1); },
       mimeOptionsRfc2231Charset, mimeOptionsRfc2231CharsetDefault, mimeOptionsSetRfc2231CharsetDefault, 44},
      {"rfc2231MaxSegmentLength", [](MIME_OPTIONS **mo) { mimeOptionsSetRfc2231MaxSegmentLength(mo, 20); },
       mimeOptionsRfc2231MaxSegmentLength, mimeOptionsRfc2231MaxSegmentLengthDefault,
       mimeOptionsSetRfc2231MaxSegmentLengthDefault, 60},
      {"rfcBaseOptions",
       [](MIME_OPTIONS **mo) {
         kx::Ref<RFC_BASE_OPTIONS> bo(rfcBaseOptionsCreate());
         rfcBaseOptionsSetOutputLineLength(bo.addr(), 64);
         mimeOptionsSetRfcBaseOptions(mo, bo.get());
       },
       baseLineLength, mimeOptionsRfcBaseOptionsDefault, mimeOptionsSetRfcBaseOptionsDefault, 76},
      {"rfcQuopOptions",
       [](MIME_OPTIONS **mo) {
         kx::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
         rfcQuopOptionsSetOutputLineLength(qo.addr(), 50);
         mimeOptionsSetRfcQuopOptions(mo, qo.get());
       },
       quopLineLength, mimeOptionsRfcQuopOptionsDefault, mimeOptionsSetRfcQuopOptionsDefault,
       defaultQuopLineLength()},
  };
  return rows;
}

TEST(Options, NewObjectHoldsEveryDefaultWithItsMarker) {
  OptionsRef mo(mimeOptionsCreate());
  for (const auto &f : fields()) {
    EXPECT_EQ(f.value(mo.get()), f.defaultValue) << f.name;
    EXPECT_TRUE(f.marker(mo.get())) << f.name;
  }
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(mo.get()));
  EXPECT_FALSE(rfcBaseOptionsOutputLineLengthDefault(bo.get()));  // 76 was set on a fresh codec object
}

TEST(Options, SettersClearTheMarkerAndDefaultSettersRestoreIt) {
  for (const auto &f : fields()) {
    SCOPED_TRACE(f.name);
    OptionsRef mo(mimeOptionsCreate());
    f.setExplicit(mo.addr());
    EXPECT_NE(f.value(mo.get()), f.defaultValue);
    EXPECT_FALSE(f.marker(mo.get()));
    f.setDefault(mo.addr());
    EXPECT_EQ(f.value(mo.get()), f.defaultValue);
    EXPECT_TRUE(f.marker(mo.get()));
    for (const auto &other : fields()) EXPECT_TRUE(other.marker(mo.get())) << other.name;
  }
}

TEST(Options, ExplicitValueEqualToTheDefaultStaysExplicitAndSortsFirst) {
  OptionsRef fresh(mimeOptionsCreate());
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetWrapLineLength(mo.addr(), 76);
  EXPECT_FALSE(mimeOptionsWrapLineLengthDefault(mo.get()));
  EXPECT_EQ(mimeOptionsCompare(mo.get(), fresh.get()), -1);
  EXPECT_EQ(mimeOptionsCompare(fresh.get(), mo.get()), 1);
}

TEST(Options, SetFlagsStoresTheNormalisedFlags) {
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetFlags(mo.addr(), 6);
  EXPECT_EQ(mimeOptionsFlags(mo.get()), 2);
  EXPECT_FALSE(mimeOptionsFlagsDefault(mo.get()));
  mimeOptionsSetFlags(mo.addr(), -1);
  EXPECT_EQ(mimeOptionsFlags(mo.get()), 27);
}

TEST(Options, BoundaryValuesAreAccepted) {
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetWrapLineLength(mo.addr(), -1);
  mimeOptionsSetRfc2231MaxSegmentLength(mo.addr(), -1);
  mimeOptionsSetRfc2231Charset(mo.addr(), 0);
  EXPECT_EQ(mimeOptionsWrapLineLength(mo.get()), -1);
  EXPECT_EQ(mimeOptionsRfc2231MaxSegmentLength(mo.get()), -1);
  mimeOptionsSetRfc2231MaxSegmentLength(mo.addr(), 1);
  mimeOptionsSetRfc2231Charset(mo.addr(), 50);
  mimeOptionsSetWrapLineLength(mo.addr(), 0);
  EXPECT_EQ(mimeOptionsRfc2231MaxSegmentLength(mo.get()), 1);
  EXPECT_EQ(mimeOptionsRfc2231Charset(mo.get()), 50);
  EXPECT_EQ(mimeOptionsWrapLineLength(mo.get()), 0);
}

// --- copy-on-write and ownership ---

TEST(Options, SetterOnAPrivateObjectChangesItInPlace) {
  for (const auto &f : fields()) {
    OptionsRef mo(mimeOptionsCreate());
    MIME_OPTIONS *before = mo.get();
    f.setExplicit(mo.addr());
    EXPECT_EQ(mo.get(), before) << f.name;
    f.setDefault(mo.addr());
    EXPECT_EQ(mo.get(), before) << f.name;
  }
}

TEST(Options, SetterOnASharedObjectLeavesTheOtherHolderUnchanged) {
  for (const auto &f : fields()) {
    SCOPED_TRACE(f.name);
    OptionsRef mine(mimeOptionsCreate());
    OptionsRef theirs(mimeOptionsRetain(mine.get()));
    f.setExplicit(mine.addr());
    EXPECT_NE(mine.get(), theirs.get());
    EXPECT_EQ(refs(theirs.get()), 1);  // the caller's reference to the shared object was given up
    EXPECT_EQ(refs(mine.get()), 1);
    EXPECT_EQ(f.value(theirs.get()), f.defaultValue);
    EXPECT_TRUE(f.marker(theirs.get()));
    EXPECT_NE(f.value(mine.get()), f.defaultValue);
    // Every other field was copied.
    for (const auto &other : fields()) {
      if (&other != &f) {
        EXPECT_EQ(other.value(mine.get()), other.value(theirs.get())) << other.name;
      }
    }
  }
}

TEST(Options, CopySharesTheCodecOptionsWithOneMoreReference) {
  OptionsRef source(mimeOptionsCreate());
  mimeOptionsSetFlags(source.addr(), 8);
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(source.get()));
  kx::Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(source.get()));
  EXPECT_EQ(refs(bo.get()), 2);
  {
    OptionsRef copy(mimeOptionsCreateFrom(source.get()));
    EXPECT_EQ(mimeOptionsCompare(copy.get(), source.get()), 0);
    EXPECT_FALSE(mimeOptionsFlagsDefault(copy.get()));
    kx::Ref<RFC_BASE_OPTIONS> copied(mimeOptionsRfcBaseOptions(copy.get()));
    EXPECT_EQ(copied.get(), bo.get());
    EXPECT_EQ(refs(bo.get()), 4);  // source, copy, bo, copied
    EXPECT_EQ(refs(qo.get()), 3);
  }
  EXPECT_EQ(refs(bo.get()), 2);
  EXPECT_EQ(refs(qo.get()), 2);
}

TEST(Options, SettingTheCodecOptionsItAlreadyHoldsIsSafe) {
  OptionsRef mo(mimeOptionsCreate());
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(mo.get()));
  kx::Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(mo.get()));
  mimeOptionsSetRfcBaseOptions(mo.addr(), bo.get());
  mimeOptionsSetRfcQuopOptions(mo.addr(), qo.get());
  EXPECT_EQ(refs(bo.get()), 2);
  EXPECT_EQ(refs(qo.get()), 2);
  EXPECT_EQ(baseLineLength(mo.get()), 76);
  EXPECT_FALSE(mimeOptionsRfcBaseOptionsDefault(mo.get()));
}

TEST(Options, SetterRetainsItsArgumentAndDefaultSetterMakesAFreshObject) {
  OptionsRef mo(mimeOptionsCreate());
  kx::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  mimeOptionsSetRfcQuopOptions(mo.addr(), qo.get());
  EXPECT_EQ(refs(qo.get()), 2);
  mimeOptionsSetRfcQuopOptionsDefault(mo.addr());
  EXPECT_EQ(refs(qo.get()), 1);  // the replaced object was released
  kx::Ref<RFC_QUOP_OPTIONS> first(mimeOptionsRfcQuopOptions(mo.get()));
  mimeOptionsSetRfcQuopOptionsDefault(mo.addr());
  kx::Ref<RFC_QUOP_OPTIONS> second(mimeOptionsRfcQuopOptions(mo.get()));
  EXPECT_NE(first.get(), second.get());
  EXPECT_NE(second.get(), qo.get());
}

// --- order ---

TEST(Options, CompareGoesFieldByFieldAndGivesMinusOneZeroOrOne) {
  OptionsRef low(mimeOptionsCreate());
  OptionsRef high(mimeOptionsCreate());
  mimeOptionsSetFlags(low.addr(), 1);
  mimeOptionsSetFlags(high.addr(), 2);
  mimeOptionsSetWrapLineLength(low.addr(), 1000);  // later fields do not matter
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), -1);
  EXPECT_EQ(mimeOptionsCompare(high.get(), low.get()), 1);
  mimeOptionsSetFlags(high.addr(), 1);
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), -1);  // now the wrap line length marker decides
  mimeOptionsSetWrapLineLength(high.addr(), 999);
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), 1);
  mimeOptionsSetWrapLineLength(high.addr(), 1000);
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), 0);
}

TEST(Options, CodecOptionsOrderByTheirOwnCompare) {
  OptionsRef a(mimeOptionsCreate());
  OptionsRef b(mimeOptionsCreate());
  // Two distinct but equal default codec objects do not separate the options.
  EXPECT_EQ(mimeOptionsCompare(a.get(), b.get()), 0);
  kx::Ref<RFC_BASE_OPTIONS> shortLines(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(shortLines.addr(), 8);
  kx::Ref<RFC_BASE_OPTIONS> longLines(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(longLines.addr(), 80);
  mimeOptionsSetRfcBaseOptions(a.addr(), shortLines.get());
  mimeOptionsSetRfcBaseOptions(b.addr(), longLines.get());
  const kxInt expected = rfcBaseOptionsCompare(shortLines.get(), longLines.get());
  ASSERT_NE(expected, 0);
  EXPECT_EQ(mimeOptionsCompare(a.get(), b.get()), expected);
}

// --- persistence ---

std::vector<std::string> keysOf(KX_STORE *store) {
  std::vector<std::string> keys;
  for (kxInt i = 0; i < kxStoreLength(store); ++i) {
    StringRef key(kxStoreKeyAt(store, i));
    keys.push_back(test_support::utf8(key.get()));
  }
  return keys;
}

TEST(Options, StoringDefaultsWritesNothingAndRestoresTheDefaults) {
  OptionsRef fresh(mimeOptionsCreate());
  StoreRef store(mimeOptionsStore(fresh.get(), 0));
  EXPECT_EQ(kxStoreLength(store.get()), 0);
  OptionsRef restored(mimeOptionsRestore(store.get()));
  EXPECT_EQ(mimeOptionsCompare(restored.get(), fresh.get()), 0);
  for (const auto &f : fields()) EXPECT_TRUE(f.marker(restored.get())) << f.name;
}

TEST(Options, FullStoreWritesEveryKeyInOrderAndRestoresThemExplicit) {
  OptionsRef fresh(mimeOptionsCreate());
  StoreRef store(mimeOptionsStore(fresh.get(), 1));
  EXPECT_EQ(keysOf(store.get()),
            (std::vector<std::string>{"flags", "wrapLineLength", "rfc2231Charset", "rfc2231MaxSegmentLength",
                                      "rfcBaseOptions", "rfcQuopOptions"}));
  OptionsRef restored(mimeOptionsRestore(store.get()));
  for (const auto &f : fields()) {
    EXPECT_EQ(f.value(restored.get()), f.defaultValue) << f.name;
    EXPECT_FALSE(f.marker(restored.get())) << f.name;
  }
  EXPECT_EQ(mimeOptionsCompare(restored.get(), fresh.get()), -1);
}

TEST(Options, StoreWritesOnlyExplicitFieldsAndTheTextFormRoundTrips) {
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetFlags(mo.addr(), MIME_FLAG_GENERATE_UNICODE_HEADERS | MIME_FLAG_GENERATE_EIGHT_BIT_BODY);
  mimeOptionsSetRfc2231Charset(mo.addr(), KX_CHARSET_ISO_8859_1);
  fields()[5].setExplicit(mo.addr());
  StoreRef store(mimeOptionsStore(mo.get(), 0));
  EXPECT_EQ(keysOf(store.get()), (std::vector<std::string>{"flags", "rfc2231Charset", "rfcQuopOptions"}));
  // What a caller keeps in a file: the store's text form, parsed back.
  StringRef text(kxStoreEncode(store.get()));
  StoreRef parsed(kxStoreTryDecode(text.get()));
  ASSERT_TRUE(parsed);
  OptionsRef restored(mimeOptionsRestore(parsed.get()));
  EXPECT_EQ(mimeOptionsCompare(restored.get(), mo.get()), 0);
  EXPECT_EQ(mimeOptionsFlags(restored.get()), 12);
  EXPECT_EQ(quopLineLength(restored.get()), 50);
}

TEST(Options, FullStoreOfChangedOptionsRestoresEveryValue) {
  OptionsRef mo(mimeOptionsCreate());
  for (const auto &f : fields()) f.setExplicit(mo.addr());
  StoreRef store(mimeOptionsStore(mo.get(), 1));
  OptionsRef restored(mimeOptionsRestore(store.get()));
  for (const auto &f : fields()) EXPECT_EQ(f.value(restored.get()), f.value(mo.get())) << f.name;
}

struct UnusableEntry {
  const char *label;
  std::function<void(KX_STORE **)> write;
  Field const *(*field)();
};

TEST(Options, UnusableEntriesLeaveTheirFieldAtTheDefault) {
  const UnusableEntry rows[] = {
      {"wrap line length below -1",
       [](KX_STORE **st) { kxStoreSetValueIntCstr(st, "wrapLineLength", -1, -5); },
       [] { return &fields()[1]; }},
      {"wrap line length as text",
       [](KX_STORE **st) {
         StringRef v(kxStringCreateFromCstr("40", -1));
         kxStoreSetValueCstr(st, "wrapLineLength", -1, v.get());
       },
       [] { return &fields()[1]; }},
      {"unknown charset name",
       [](KX_STORE **st) {
         StringRef v(kxStringCreateFromCstr("NO_SUCH_CHARSET", -1));
         kxStoreSetValueCstr(st, "rfc2231Charset", -1, v.get());
       },
       [] { return &fields()[2]; }},
      {"charset as integer", [](KX_STORE **st) { kxStoreSetValueIntCstr(st, "rfc2231Charset", -1, 1); },
       [] { return &fields()[2]; }},
      {"segment length 0",
       [](KX_STORE **st) { kxStoreSetValueIntCstr(st, "rfc2231MaxSegmentLength", -1, 0); },
       [] { return &fields()[3]; }},
      {"segment length -2",
       [](KX_STORE **st) { kxStoreSetValueIntCstr(st, "rfc2231MaxSegmentLength", -1, -2); },
       [] { return &fields()[3]; }},
      {"flags as integer", [](KX_STORE **st) { kxStoreSetValueIntCstr(st, "flags", -1, 8); },
       [] { return &fields()[0]; }},
      {"base options as text",
       [](KX_STORE **st) {
         StringRef v(kxStringCreateFromCstr("64", -1));
         kxStoreSetValueCstr(st, "rfcBaseOptions", -1, v.get());
       },
       [] { return &fields()[4]; }},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    StoreRef store(kxStoreCreate());
    row.write(store.addr());
    OptionsRef restored(mimeOptionsRestore(store.get()));
    const Field *f = row.field();
    EXPECT_EQ(f->value(restored.get()), f->defaultValue);
    EXPECT_TRUE(f->marker(restored.get()));
  }
}

TEST(Options, UsableBoundaryEntriesAreRestored) {
  StoreRef store(kxStoreCreate());
  kxStoreSetValueIntCstr(store.addr(), "wrapLineLength", -1, -1);
  kxStoreSetValueIntCstr(store.addr(), "rfc2231MaxSegmentLength", -1, -1);
  StringRef flags(kxStringCreateFromCstr("NO_SUCH_FLAG", -1));
  kxStoreSetValueCstr(store.addr(), "flags", -1, flags.get());
  OptionsRef restored(mimeOptionsRestore(store.get()));
  EXPECT_EQ(mimeOptionsWrapLineLength(restored.get()), -1);
  EXPECT_EQ(mimeOptionsRfc2231MaxSegmentLength(restored.get()), -1);
  EXPECT_EQ(mimeOptionsFlags(restored.get()), 0);  // any text is usable: unknown names give no flags
  EXPECT_FALSE(mimeOptionsFlagsDefault(restored.get()));
}

// --- contract aborts ---

struct OptionsAbort {
  const char *label;
  std::function<void()> call;
  const char *expression;
};

TEST(OptionsDeathTest, PreconditionsAbortWithTheirExpression) {
  const OptionsAbort rows[] = {
      {"wrap line length -2",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetWrapLineLength(&mo, -2);
       },
       "wrapLineLength >= -1"},
      {"charset 51",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetRfc2231Charset(&mo, 51);
       },
       "KX_CHARSET_OK( charset )"},
      {"charset -1",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetRfc2231Charset(&mo, -1);
       },
       "KX_CHARSET_OK( charset )"},
      {"segment length 0",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetRfc2231MaxSegmentLength(&mo, 0);
       },
       "maxSegmentLength == -1 || maxSegmentLength > 0"},
      {"null base options",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetRfcBaseOptions(&mo, nullptr);
       },
       "bo"},
      {"null quoted-printable options",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetRfcQuopOptions(&mo, nullptr);
       },
       "qo"},
      {"null address", [] { mimeOptionsSetFlags(nullptr, 1); }, "mo"},
      {"null reference",
       [] {
         MIME_OPTIONS *mo = nullptr;
         mimeOptionsSetWrapLineLengthDefault(&mo);
       },
       "*mo"},
      {"null reference before the value check",
       [] {
         MIME_OPTIONS *mo = nullptr;
         mimeOptionsSetWrapLineLength(&mo, -2);
       },
       "*mo"},
      {"getter of null", [] { mimeOptionsRfc2231Charset(nullptr); }, "mo"},
      {"marker of null", [] { mimeOptionsRfcQuopOptionsDefault(nullptr); }, "mo"},
      {"store of null", [] { mimeOptionsStore(nullptr, 1); }, "mo"},
      {"restore of null", [] { mimeOptionsRestore(nullptr); }, "store"},
      {"compare function with null", [] { mime___OptionsCompFunc(nullptr, nullptr); }, "thisObj"},
      {"compare function with null that",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mime___OptionsCompFunc(mimeOptionsObj(mo), nullptr);
       },
       "thatObj"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_DEATH(row.call(), abortText("", row.expression));
  }
}

}  // namespace
