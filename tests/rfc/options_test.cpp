// The option objects of both codecs (source/rfc/rfc_options.cpp): defaults and markers, copy-on-write,
// ordering, store and restore, and the contract aborts.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

// The two kinds behave alike; the tests run once per kind through these traits.
#define CODEC_OPTIONS_KIND(Kind, Prefix, OPTIONS, defaultLength)                           \
  struct Kind {                                                                            \
    using Options = OPTIONS;                                                               \
    static constexpr kxInt kDefault = defaultLength;                                       \
    static constexpr const char *kSortName = #OPTIONS;                                     \
    static Options *create() { return Prefix##Create(); }                                  \
    static kxInt length(Options *o) { return Prefix##OutputLineLength(o); }                \
    static kxBool isDefault(Options *o) { return Prefix##OutputLineLengthDefault(o); }     \
    static void set(Options **o, kxInt length) { Prefix##SetOutputLineLength(o, length); } \
    static void setDefault(Options **o) { Prefix##SetOutputLineLengthDefault(o); }         \
    static kxInt compare(Options *a, Options *b) { return Prefix##Compare(a, b); }         \
    static kxBool equals(Options *a, Options *b) { return Prefix##Equals(a, b); }          \
    static KX_STORE *store(Options *o, kxBool full) { return Prefix##Store(o, full); }     \
    static Options *restore(KX_STORE *st) { return Prefix##Restore(st); }                  \
    static KX_OBJ *obj(Options *o) { return Prefix##Obj(o); }                              \
  };
CODEC_OPTIONS_KIND(BaseKind, rfcBaseOptions, RFC_BASE_OPTIONS, 0)
CODEC_OPTIONS_KIND(QuopKind, rfcQuopOptions, RFC_QUOP_OPTIONS, 76)

template <typename Kind>
class CodecOptions : public testing::Test {
 protected:
  using Options = typename Kind::Options;
  using Ref = kx::Ref<Options>;
};

using Kinds = testing::Types<BaseKind, QuopKind>;
TYPED_TEST_SUITE(CodecOptions, Kinds);

// A new object holds the default and its marker; a setter clears the marker even for the default value,
// changes a private object in place and copies a shared one first; the default setter puts the marker back.
TYPED_TEST(CodecOptions, MarkerAndCopyOnWrite) {
  typename TestFixture::Ref mine(TypeParam::create());
  EXPECT_EQ(TypeParam::length(mine.get()), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::isDefault(mine.get()), 1);
  EXPECT_STREQ(kxSortName(kxObjSort(TypeParam::obj(mine.get()))), TypeParam::kSortName);
  auto *original = mine.get();
  TypeParam::set(mine.addr(), TypeParam::kDefault);
  EXPECT_EQ(mine.get(), original) << "a private object changes in place";
  EXPECT_EQ(TypeParam::isDefault(mine.get()), 0);

  typename TestFixture::Ref theirs = TestFixture::Ref::retained(mine.get());
  TypeParam::set(mine.addr(), 60);
  EXPECT_NE(mine.get(), theirs.get()) << "a shared object is copied first";
  EXPECT_EQ(TypeParam::length(theirs.get()), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::length(mine.get()), 60);

  typename TestFixture::Ref again = TestFixture::Ref::retained(mine.get());
  TypeParam::setDefault(mine.addr());
  EXPECT_EQ(TypeParam::length(again.get()), 60);
  EXPECT_EQ(TypeParam::isDefault(again.get()), 0);
  EXPECT_EQ(TypeParam::length(mine.get()), TypeParam::kDefault);
  EXPECT_EQ(TypeParam::isDefault(mine.get()), 1);
}

TYPED_TEST(CodecOptions, ExplicitSortsBeforeDefaultThenByLength) {
  typename TestFixture::Ref byDefault(TypeParam::create()), otherDefault(TypeParam::create());
  typename TestFixture::Ref explicitSame(TypeParam::create()), explicitLonger(TypeParam::create());
  TypeParam::set(explicitSame.addr(), TypeParam::kDefault);
  TypeParam::set(explicitLonger.addr(), 100);
  EXPECT_EQ(TypeParam::compare(explicitSame.get(), byDefault.get()), -1);
  EXPECT_EQ(TypeParam::compare(byDefault.get(), explicitSame.get()), 1);
  EXPECT_EQ(TypeParam::compare(explicitSame.get(), explicitLonger.get()), -1);
  EXPECT_EQ(TypeParam::compare(byDefault.get(), otherDefault.get()), 0);
  EXPECT_EQ(TypeParam::equals(byDefault.get(), otherDefault.get()), 1);
  EXPECT_EQ(TypeParam::equals(byDefault.get(), explicitSame.get()), 0);
}

// A sparse store leaves a default out, a full one writes it; either comes back equal through the text form.
TYPED_TEST(CodecOptions, StoreAndRestoreThroughTheTextForm) {
  for (kxInt length : {kxInt{-1}, kxInt{TypeParam::kDefault}, kxInt{64}}) {
    typename TestFixture::Ref o(TypeParam::create());
    if (length >= 0) TypeParam::set(o.addr(), length);
    StoreRef full(TypeParam::store(o.get(), 1));
    kxInt value = -1;
    ASSERT_TRUE(kxStoreValueIntCstr(full.get(), "outputLineLength", -1, &value));
    EXPECT_EQ(value, length < 0 ? TypeParam::kDefault : length);
    StoreRef stored(TypeParam::store(o.get(), 0));
    EXPECT_EQ(kxStoreLength(stored.get()), length < 0 ? 0 : 1) << "length " << length;
    StoreRef parsed(kxStoreTryDecode(kx::Ref<KX_STRING>(kxStoreEncode(stored.get())).get()));
    ASSERT_TRUE(parsed);
    typename TestFixture::Ref restored(TypeParam::restore(parsed.get()));
    EXPECT_EQ(TypeParam::compare(restored.get(), o.get()), 0) << "length " << length;
    EXPECT_EQ(TypeParam::isDefault(restored.get()), length < 0);
  }
}

// An entry of the wrong kind, under another key, or out of the kind's range leaves the default.
TYPED_TEST(CodecOptions, RestoreIgnoresUnusableEntries) {
  StoreRef wrongKind(kxStoreCreate()), negative(kxStoreCreate()), otherKey(kxStoreCreate()),
      nested(kxStoreCreate());
  kxStoreSetValueCstr(wrongKind.addr(), "outputLineLength", -1,
                      kx::Ref<KX_STRING>(kxStringCreateFromCstr("64", -1)).get());
  kxStoreSetValueIntCstr(negative.addr(), "outputLineLength", -1, -5);
  kxStoreSetValueIntCstr(otherKey.addr(), "lineLength", -1, 64);
  kxStoreSetStoreCstr(nested.addr(), "outputLineLength", -1, StoreRef(kxStoreCreate()).get());
  for (KX_STORE *store : {wrongKind.get(), negative.get(), otherKey.get(), nested.get()}) {
    typename TestFixture::Ref restored(TypeParam::restore(store));
    ASSERT_TRUE(restored);
    EXPECT_EQ(TypeParam::length(restored.get()), TypeParam::kDefault);
    EXPECT_EQ(TypeParam::isDefault(restored.get()), 1);
  }
}

// --- what differs between the kinds: Base64 takes any length from zero (rounded only when encoding),
// quoted-printable 0 and 4 to 998 ---

TEST(CodecOptions, LineLengthRangesOfTheKinds) {
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  for (kxInt length : {0, 4, 998}) {
    rfcQuopOptionsSetOutputLineLength(qo.addr(), length);
    EXPECT_EQ(rfcQuopOptionsOutputLineLength(qo.get()), length);
  }
  for (kxInt length : {1, 3, 999, 100000}) {
    StoreRef st(kxStoreCreate());
    kxStoreSetValueIntCstr(st.addr(), "outputLineLength", -1, length);
    EXPECT_EQ(rfcQuopOptionsOutputLineLengthDefault(QuopOptionsRef(rfcQuopOptionsRestore(st.get())).get()), 1)
        << length;
    BaseOptionsRef restored(rfcBaseOptionsRestore(st.get()));
    EXPECT_EQ(rfcBaseOptionsOutputLineLength(restored.get()), length);
    EXPECT_EQ(rfcBaseOptionsOutputLineLengthDefault(restored.get()), 0);
  }
}

// One per kind of contract: a length out of range, a null object, a null object at the address, a null
// store, and the labelled checks of the common object functions.
TEST(CodecOptionsDeath, BrokenPreconditionsAbort) {
  BaseOptionsRef bo(rfcBaseOptionsCreate());
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  RFC_BASE_OPTIONS *noBase = nullptr;
  EXPECT_DEATH(rfcBaseOptionsSetOutputLineLength(bo.addr(), -1), abortText("", "length >= 0"));
  EXPECT_DEATH(rfcQuopOptionsSetOutputLineLength(qo.addr(), 3),
               abortText("", "length == 0 || (length >= 4 && length <= 998)"));
  EXPECT_DEATH(rfcBaseOptionsOutputLineLength(nullptr), abortText("", "bo"));
  EXPECT_DEATH(rfcBaseOptionsSetOutputLineLength(&noBase, 4), abortText("", "*bo"));
  EXPECT_DEATH(rfcQuopOptionsRestore(nullptr), abortText("", "store"));
  EXPECT_DEATH(rfcBaseOptionsRetain(nullptr), abortText("stdfunc retain", "obj"));
  EXPECT_DEATH(rfcQuopOptionsCompare(qo.get(), nullptr), abortText("stdfunc compare b", "objB"));
  EXPECT_DEATH(rfcQuopOptionsFrom(rfcBaseOptionsObj(bo.get())),
               abortText("stdfunc from", "!obj || kxObjSort(obj) == &rfc___sort_RFC_QUOP_OPTIONS"));
}

}  // namespace
