// The option objects of both codecs (source/rfc/rfc_options.cpp): defaults and markers, copy-on-write,
// ordering, store and restore, and the contract aborts.
#include <gtest/gtest.h>

#include "rfc_test.hpp"
#include "support/death_text.hpp"

using namespace rfctest;
using test_support::abortText;

namespace {

// The two kinds behave alike; the tests run once per kind through these traits.
struct BaseKind {
  using Options = RFC_BASE_OPTIONS;
  static constexpr kxInt kDefault = 0;
  static constexpr const char *kSortName = "RFC_BASE_OPTIONS";
  static Options *create() { return rfcBaseOptionsCreate(); }
  static kxInt length(Options *o) { return rfcBaseOptionsOutputLineLength(o); }
  static kxBool isDefault(Options *o) { return rfcBaseOptionsOutputLineLengthDefault(o); }
  static void set(Options **o, kxInt length) { rfcBaseOptionsSetOutputLineLength(o, length); }
  static void setDefault(Options **o) { rfcBaseOptionsSetOutputLineLengthDefault(o); }
  static kxInt compare(Options *a, Options *b) { return rfcBaseOptionsCompare(a, b); }
  static kxBool equals(Options *a, Options *b) { return rfcBaseOptionsEquals(a, b); }
  static KX_STORE *store(Options *o, kxBool full) { return rfcBaseOptionsStore(o, full); }
  static Options *restore(KX_STORE *st) { return rfcBaseOptionsRestore(st); }
  static KX_OBJ *obj(Options *o) { return rfcBaseOptionsObj(o); }
};

struct QuopKind {
  using Options = RFC_QUOP_OPTIONS;
  static constexpr kxInt kDefault = 76;
  static constexpr const char *kSortName = "RFC_QUOP_OPTIONS";
  static Options *create() { return rfcQuopOptionsCreate(); }
  static kxInt length(Options *o) { return rfcQuopOptionsOutputLineLength(o); }
  static kxBool isDefault(Options *o) { return rfcQuopOptionsOutputLineLengthDefault(o); }
  static void set(Options **o, kxInt length) { rfcQuopOptionsSetOutputLineLength(o, length); }
  static void setDefault(Options **o) { rfcQuopOptionsSetOutputLineLengthDefault(o); }
  static kxInt compare(Options *a, Options *b) { return rfcQuopOptionsCompare(a, b); }
  static kxBool equals(Options *a, Options *b) { return rfcQuopOptionsEquals(a, b); }
  static KX_STORE *store(Options *o, kxBool full) { return rfcQuopOptionsStore(o, full); }
  static Options *restore(KX_STORE *st) { return rfcQuopOptionsRestore(st); }
  static KX_OBJ *obj(Options *o) { return rfcQuopOptionsObj(o); }
};

template <typename Kind>
class CodecOptions : public testing::Test {
 protected:
  using Options = typename Kind::Options;
  using Ref = kx::Ref<Options>;
};

using Kinds = testing::Types<BaseKind, QuopKind>;
TYPED_TEST_SUITE(CodecOptions, Kinds);

TYPED_TEST(CodecOptions, CreatedWithTheDefaultAndItsMarker) {
  typename TestFixture::Ref o(TypeParam::create());
  EXPECT_EQ(TypeParam::length(o.get()), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::isDefault(o.get()), 1);
  EXPECT_STREQ(kxSortName(kxObjSort(TypeParam::obj(o.get()))), TypeParam::kSortName);
}

TYPED_TEST(CodecOptions, SetterClearsTheMarkerEvenForTheDefaultValue) {
  typename TestFixture::Ref o(TypeParam::create());
  TypeParam::set(o.addr(), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::length(o.get()), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::isDefault(o.get()), 0);
  TypeParam::set(o.addr(), 40);
  EXPECT_EQ(TypeParam::length(o.get()), 40);
  TypeParam::setDefault(o.addr());
  EXPECT_EQ(TypeParam::length(o.get()), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::isDefault(o.get()), 1);
}

TYPED_TEST(CodecOptions, SettersCopyOnWrite) {
  typename TestFixture::Ref mine(TypeParam::create());
  auto *original = mine.get();
  TypeParam::set(mine.addr(), 40);
  EXPECT_EQ(mine.get(), original) << "a private object changes in place";

  typename TestFixture::Ref theirs = TestFixture::Ref::retained(mine.get());
  TypeParam::set(mine.addr(), 60);
  EXPECT_NE(mine.get(), theirs.get()) << "a shared object is copied first";
  EXPECT_EQ(TypeParam::length(theirs.get()), 40) << "the other holder's object is unchanged";
  EXPECT_EQ(TypeParam::length(mine.get()), 60);

  typename TestFixture::Ref again = TestFixture::Ref::retained(mine.get());
  TypeParam::setDefault(mine.addr());
  EXPECT_EQ(TypeParam::length(again.get()), 60);
  EXPECT_EQ(TypeParam::isDefault(again.get()), 0);
  EXPECT_EQ(TypeParam::isDefault(mine.get()), 1);
}

TYPED_TEST(CodecOptions, ExplicitSortsBeforeDefaultThenByLength) {
  typename TestFixture::Ref byDefault(TypeParam::create());
  typename TestFixture::Ref explicitSame(TypeParam::create());
  TypeParam::set(explicitSame.addr(), TypeParam::kDefault);
  typename TestFixture::Ref explicitLonger(TypeParam::create());
  TypeParam::set(explicitLonger.addr(), 100);
  typename TestFixture::Ref otherDefault(TypeParam::create());

  EXPECT_EQ(TypeParam::compare(explicitSame.get(), byDefault.get()), -1);
  EXPECT_EQ(TypeParam::compare(byDefault.get(), explicitSame.get()), 1);
  EXPECT_EQ(TypeParam::compare(explicitSame.get(), explicitLonger.get()), -1);
  EXPECT_EQ(TypeParam::compare(byDefault.get(), otherDefault.get()), 0);
  EXPECT_EQ(TypeParam::equals(byDefault.get(), otherDefault.get()), 1);
  EXPECT_EQ(TypeParam::equals(byDefault.get(), explicitSame.get()), 0);
}

TYPED_TEST(CodecOptions, StoresOnlyWhatWasSetUnlessFull) {
  typename TestFixture::Ref o(TypeParam::create());
  StoreRef sparse(TypeParam::store(o.get(), 0));
  EXPECT_EQ(kxStoreLength(sparse.get()), 0) << "a default is left out";
  StoreRef full(TypeParam::store(o.get(), 1));
  kxInt value = -1;
  ASSERT_TRUE(kxStoreValueIntCstr(full.get(), "outputLineLength", -1, &value));
  EXPECT_EQ(value, TypeParam::kDefault);

  TypeParam::set(o.addr(), 64);
  StoreRef set(TypeParam::store(o.get(), 0));
  ASSERT_TRUE(kxStoreValueIntCstr(set.get(), "outputLineLength", -1, &value));
  EXPECT_EQ(value, 64);
}

TYPED_TEST(CodecOptions, RestoreRebuildsAnEqualObjectThroughTheTextForm) {
  for (kxInt length : {kxInt{-1}, kxInt{TypeParam::kDefault}, kxInt{64}}) {
    typename TestFixture::Ref o(TypeParam::create());
    if (length >= 0) TypeParam::set(o.addr(), length);
    StoreRef stored(TypeParam::store(o.get(), 0));
    kx::Ref<KX_STRING> saved(kxStoreEncode(stored.get()));
    StoreRef parsed(kxStoreTryDecode(saved.get()));
    ASSERT_TRUE(parsed);
    typename TestFixture::Ref restored(TypeParam::restore(parsed.get()));
    EXPECT_EQ(TypeParam::compare(restored.get(), o.get()), 0) << "length " << length;
    EXPECT_EQ(TypeParam::isDefault(restored.get()), length < 0);
  }
}

TYPED_TEST(CodecOptions, RestoreIgnoresUnusableEntries) {
  StoreRef wrongKind(kxStoreCreate());
  kx::Ref<KX_STRING> text(kxStringCreateFromCstr("64", -1));
  kxStoreSetValueCstr(wrongKind.addr(), "outputLineLength", -1, text.get());
  StoreRef negative(kxStoreCreate());
  kxStoreSetValueIntCstr(negative.addr(), "outputLineLength", -1, -5);
  StoreRef otherKey(kxStoreCreate());
  kxStoreSetValueIntCstr(otherKey.addr(), "lineLength", -1, 64);
  StoreRef nested(kxStoreCreate());
  StoreRef inner(kxStoreCreate());
  kxStoreSetStoreCstr(nested.addr(), "outputLineLength", -1, inner.get());
  for (KX_STORE *store : {wrongKind.get(), negative.get(), otherKey.get(), nested.get()}) {
    typename TestFixture::Ref restored(TypeParam::restore(store));
    ASSERT_TRUE(restored);
    EXPECT_EQ(TypeParam::length(restored.get()), TypeParam::kDefault);
    EXPECT_EQ(TypeParam::isDefault(restored.get()), 1);
  }
}

// --- what differs between the kinds ---

TEST(QuopOptions, AcceptsZeroAndFourTo998Only) {
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  for (kxInt length : {0, 4, 76, 998}) {
    rfcQuopOptionsSetOutputLineLength(qo.addr(), length);
    EXPECT_EQ(rfcQuopOptionsOutputLineLength(qo.get()), length);
  }
  for (kxInt unusable : {1, 3, 999, 100000}) {
    StoreRef st(kxStoreCreate());
    kxStoreSetValueIntCstr(st.addr(), "outputLineLength", -1, unusable);
    QuopOptionsRef restored(rfcQuopOptionsRestore(st.get()));
    EXPECT_EQ(rfcQuopOptionsOutputLineLengthDefault(restored.get()), 1) << unusable;
  }
}

TEST(BaseOptions, AcceptsAnyLengthFromZero) {
  StoreRef st(kxStoreCreate());
  kxStoreSetValueIntCstr(st.addr(), "outputLineLength", -1, 3);
  BaseOptionsRef restored(rfcBaseOptionsRestore(st.get()));
  EXPECT_EQ(rfcBaseOptionsOutputLineLength(restored.get()), 3) << "kept as given, rounded only when encoding";
  EXPECT_EQ(rfcBaseOptionsOutputLineLengthDefault(restored.get()), 0);
}

TEST(CodecOptionsDeath, BrokenPreconditionsAbort) {
  BaseOptionsRef bo(rfcBaseOptionsCreate());
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  RFC_BASE_OPTIONS *noBase = nullptr;
  RFC_QUOP_OPTIONS *noQuop = nullptr;
  EXPECT_DEATH(rfcBaseOptionsSetOutputLineLength(bo.addr(), -1), abortText("", "length >= 0"));
  EXPECT_DEATH(rfcBaseOptionsSetOutputLineLength(nullptr, 4), abortText("", "bo"));
  EXPECT_DEATH(rfcBaseOptionsSetOutputLineLength(&noBase, 4), abortText("", "*bo"));
  EXPECT_DEATH(rfcBaseOptionsSetOutputLineLengthDefault(&noBase), abortText("", "*bo"));
  EXPECT_DEATH(rfcBaseOptionsOutputLineLength(nullptr), abortText("", "bo"));
  EXPECT_DEATH(rfcBaseOptionsRestore(nullptr), abortText("", "store"));
  EXPECT_DEATH(rfcBaseOptionsStore(nullptr, 0), abortText("", "bo"));
  EXPECT_DEATH(rfcBaseOptionsRetain(nullptr), abortText("stdfunc retain", "obj"));
  EXPECT_DEATH(rfcQuopOptionsSetOutputLineLength(qo.addr(), 3),
               abortText("", "length == 0 || (length >= 4 && length <= 998)"));
  EXPECT_DEATH(rfcQuopOptionsSetOutputLineLength(qo.addr(), 999),
               abortText("", "length == 0 || (length >= 4 && length <= 998)"));
  EXPECT_DEATH(rfcQuopOptionsSetOutputLineLength(&noQuop, 76), abortText("", "*qo"));
  EXPECT_DEATH(rfcQuopOptionsRestore(nullptr), abortText("", "store"));
  EXPECT_DEATH(rfcQuopOptionsCompare(qo.get(), nullptr), abortText("stdfunc compare b", "objB"));
  EXPECT_DEATH(rfcQuopOptionsFrom(rfcBaseOptionsObj(bo.get())),
               abortText("stdfunc from", "!obj || kxObjSort(obj) == &rfc___sort_RFC_QUOP_OPTIONS"));
}

}  // namespace
