// MIME_OPTIONS: defaults and markers, copy-on-write setters, the order, and persistence through stores.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

kxInt baseLineLength(MIME_OPTIONS *mo) {
  return rfcBaseOptionsOutputLineLength(kx::Ref<RFC_BASE_OPTIONS>(mimeOptionsRfcBaseOptions(mo)).get());
}

kxInt quopLineLength(MIME_OPTIONS *mo) {
  return rfcQuopOptionsOutputLineLength(kx::Ref<RFC_QUOP_OPTIONS>(mimeOptionsRfcQuopOptions(mo)).get());
}

// One row per field: how to set it to a value other than the default, read it as an integer (the codec
// options by their line length), read its marker and put it back to the default.
struct Field {
  const char *name;
  std::function<void(MIME_OPTIONS **)> setExplicit;
  std::function<kxInt(MIME_OPTIONS *)> value;
  kxBool (*marker)(MIME_OPTIONS *);
  void (*setDefault)(MIME_OPTIONS **);
  kxInt defaultValue;
};

// The reader limits share their accessors; these stand in for one field's plain function pointers.
template <kxInt kWhich>
Field readerLimitRow(const char *name, kxInt defaultValue) {
  return {name,
          [](MIME_OPTIONS **mo) { mimeOptionsSetReaderLimit(mo, kWhich, 7); },
          [](MIME_OPTIONS *mo) { return mimeOptionsReaderLimit(mo, kWhich); },
          [](MIME_OPTIONS *mo) { return mimeOptionsReaderLimitDefault(mo, kWhich); },
          [](MIME_OPTIONS **mo) { mimeOptionsSetReaderLimitDefault(mo, kWhich); },
          defaultValue};
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
       rfcQuopOptionsOutputLineLength(kx::Ref<RFC_QUOP_OPTIONS>(rfcQuopOptionsCreate()).get())},
      {"headerFallbackCharset",
       [](MIME_OPTIONS **mo) { mimeOptionsSetHeaderFallbackCharset(mo, KX_CHARSET_ISO_8859_1); },
       mimeOptionsHeaderFallbackCharset, mimeOptionsHeaderFallbackCharsetDefault,
       mimeOptionsSetHeaderFallbackCharsetDefault, 17},
      readerLimitRow<MIME_READER_LIMIT_HEADER_FIELDS>("readerMaxHeaderFields", 10000),
      readerLimitRow<MIME_READER_LIMIT_PARAMETERS>("readerMaxParameters", 1000),
      readerLimitRow<MIME_READER_LIMIT_PARTS>("readerMaxParts", 100000),
      readerLimitRow<MIME_READER_LIMIT_DEPTH>("readerMaxDepth", 100),
  };
  return rows;
}

// Each setter changes its own field and clears its marker, in place on a private object; a shared object is
// first copied with every field, so the other holder sees no change. The default setter puts both back.
TEST(Options, SettersChangeOneFieldCopyOnWrite) {
  for (const auto &f : fields()) {
    for (bool shared : {false, true}) {
      SCOPED_TRACE(std::string(f.name) + (shared ? " shared" : " private"));
      OptionsRef mo(mimeOptionsCreate());
      mimeOptionsSetRfc2231Charset(mo.addr(), 0);  // a changed field that a copy must carry over
      OptionsRef other =
          shared ? OptionsRef::retained(mo.get()) : OptionsRef(mimeOptionsCreateFrom(mo.get()));
      MIME_OPTIONS *before = mo.get();
      f.setExplicit(mo.addr());
      EXPECT_EQ(mo.get() == before, !shared);
      EXPECT_EQ(refsOf(other.get()), 1);  // a shared object was given up by this holder
      for (const auto &o : fields()) {
        EXPECT_EQ(o.value(mo.get()) == o.value(other.get()), &o != &f) << o.name;
        EXPECT_EQ(o.marker(mo.get()), &o != &f && &o != &fields()[2]) << o.name;
      }
      f.setDefault(mo.addr());
      EXPECT_EQ(f.value(mo.get()), f.defaultValue);
      EXPECT_TRUE(f.marker(mo.get()));
    }
  }
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetFlags(mo.addr(), 6);
  EXPECT_EQ(mimeOptionsFlags(mo.get()), 2);  // stored normalised (the edge values: cpp/mime_hpp_test.cpp)
}

// --- codec options: shared, retained, released ---

// Setting the object a field already holds must not free it first; the default setter releases the replaced
// object and makes a fresh one each time.
TEST(Options, CodecOptionsAreKeptWhenSetAgainAndReleasedWhenReplaced) {
  OptionsRef source(mimeOptionsCreate());
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(source.get()));
  kx::Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(source.get()));
  mimeOptionsSetRfcBaseOptions(source.addr(), bo.get());
  mimeOptionsSetRfcQuopOptions(source.addr(), qo.get());
  EXPECT_EQ(refsOf(bo.get()), 2);
  EXPECT_EQ(baseLineLength(source.get()), 76);
  mimeOptionsSetRfcQuopOptionsDefault(source.addr());
  EXPECT_EQ(refsOf(qo.get()), 1);
  kx::Ref<RFC_QUOP_OPTIONS> first(mimeOptionsRfcQuopOptions(source.get()));
  mimeOptionsSetRfcQuopOptionsDefault(source.addr());
  EXPECT_NE(kx::Ref<RFC_QUOP_OPTIONS>(mimeOptionsRfcQuopOptions(source.get())).get(), first.get());
}

TEST(Options, CompareGoesFieldByFieldMarkerFirst) {
  OptionsRef low(mimeOptionsCreate()), high(mimeOptionsCreate());
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), 0);  // distinct but equal codec objects
  mimeOptionsSetWrapLineLength(low.addr(), 76);             // explicit, equal to the default: sorts first
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), -1);
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
  // Codec options that differ (both set explicitly) order by their own compare, not as equal.
  kx::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  rfcQuopOptionsSetOutputLineLength(qo.addr(), 50);
  mimeOptionsSetRfcQuopOptions(low.addr(), qo.get());
  rfcQuopOptionsSetOutputLineLength(qo.addr(), 60);  // a copy: low keeps its own
  mimeOptionsSetRfcQuopOptions(high.addr(), qo.get());
  EXPECT_EQ(mimeOptionsCompare(low.get(), high.get()), -1);
}

// --- persistence ---

std::vector<std::string> keysOf(KX_STORE *store) {
  std::vector<std::string> keys;
  for (kxInt i = 0; i < kxStoreLength(store); ++i)
    keys.push_back(utf8Of(StringRef(kxStoreKeyAt(store, i)).get()));
  return keys;
}

TEST(Options, StoreWritesExplicitFieldsOrAllAndRestoreGivesThemBack) {
  OptionsRef fresh(mimeOptionsCreate());
  EXPECT_EQ(kxStoreLength(StoreRef(mimeOptionsStore(fresh.get(), 0)).get()), 0);
  StoreRef full(mimeOptionsStore(fresh.get(), 1));
  std::vector<std::string> names;
  for (const auto &f : fields()) names.push_back(f.name);
  EXPECT_EQ(keysOf(full.get()), names);  // every key, in this order
  OptionsRef restored(mimeOptionsRestore(full.get()));
  for (const auto &f : fields()) {
    EXPECT_EQ(f.value(restored.get()), f.defaultValue) << f.name;
    EXPECT_FALSE(f.marker(restored.get())) << f.name;  // what a full store holds comes back explicit
  }

  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetFlags(mo.addr(), MIME_FLAG_GENERATE_UNICODE_HEADERS | MIME_FLAG_GENERATE_EIGHT_BIT_BODY);
  fields()[2].setExplicit(mo.addr());
  fields()[5].setExplicit(mo.addr());
  StoreRef store(mimeOptionsStore(mo.get(), 0));
  EXPECT_EQ(keysOf(store.get()), (std::vector<std::string>{"flags", "rfc2231Charset", "rfcQuopOptions"}));
  // What a caller keeps in a file: the store's text form, parsed back.
  StoreRef parsed(kxStoreTryDecode(StringRef(kxStoreEncode(store.get())).get()));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(mimeOptionsCompare(OptionsRef(mimeOptionsRestore(parsed.get())).get(), mo.get()), 0);

  for (const auto &f : fields()) f.setExplicit(mo.addr());
  OptionsRef all(mimeOptionsRestore(StoreRef(mimeOptionsStore(mo.get(), 1)).get()));
  EXPECT_EQ(mimeOptionsCompare(all.get(), mo.get()), 0);
  EXPECT_EQ(quopLineLength(all.get()), 50);
}

// A store entry of the wrong kind or out of range leaves its field at the default; the others are taken.
TEST(Options, RestoreTakesUsableEntriesAndLeavesTheRestAtTheDefault) {
  const struct {
    size_t field;      // the store key is the field's name
    const char *text;  // null: the integer is stored
    kxInt integer, expected;
    bool isDefault;
  } rows[] = {
      {1, nullptr, -5, 76, true},     {1, "40", 0, 76, true},         {1, nullptr, -1, -1, false},
      {2, "NO_CHARSET", 0, 44, true}, {2, nullptr, 1, 44, true},      {3, nullptr, 0, 60, true},
      {3, nullptr, -1, -1, false},    {0, nullptr, 8, 3, true},       {0, "NO_SUCH_FLAG", 0, 0, false},
      {4, "64", 0, 76, true},         {6, "NO_CHARSET", 0, 17, true}, {7, nullptr, -1, 10000, true},
      {10, nullptr, 0, 0, false},
  };
  for (const auto &row : rows) {
    const Field &f = fields()[row.field];
    StoreRef store(kxStoreCreate());
    if (row.text)
      kxStoreSetValueCstr(store.addr(), f.name, -1, str(row.text).get());
    else
      kxStoreSetValueIntCstr(store.addr(), f.name, -1, row.integer);
    OptionsRef restored(mimeOptionsRestore(store.get()));
    EXPECT_EQ(f.value(restored.get()), row.expected)
        << f.name << " " << (row.text ? row.text : "") << row.integer;
    EXPECT_EQ(f.marker(restored.get()), row.isDefault) << f.name;
  }
}

}  // namespace
