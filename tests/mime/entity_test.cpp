// The entity object: four independent fields, copy-on-write changers, exact ownership.
#include <gtest/gtest.h>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;

// One field's four operations, so that every behaviour runs over all four fields.
struct FieldOps {
  const char *label;
  const char *nullValueExpression;  // the abort text of the setter's null value
  KX_OBJ *(*get)(MIME_ENTITY *);
  kxBool (*has)(MIME_ENTITY *);
  void (*set)(MIME_ENTITY **, KX_OBJ *);
  void (*del)(MIME_ENTITY **);
  KX_OBJ *(*makeValue)();
};

KX_OBJ *newString() {
  return kxStringObj(kxStringCreateFromCstr("value", -1));
}
KX_OBJ *newBuffer() {
  return kxBufferObj(kxBufferCreateFromBytes("body", 4));
}

#define STRING_FIELD(Name, text)                                                                                                   \
  FieldOps {                                                                                                                       \
#Name, text,                                                                                                                   \
        [](MIME_ENTITY *                                                                                                           \
           e) { return kxStringObj(mimeEntity##Name(e)); }, mimeEntityHas##Name,                                                   \
                                                         [](MIME_ENTITY * *e,                                                      \
                                                            KX_OBJ *                                                               \
                                                                v) { mimeEntitySet##Name(e,                                        \
                                                                                         kxStringFrom(v)); },                   \
                                                                                                              mimeEntityDel##Name, \
                                                                                                              newString            \
  }

const FieldOps kFields[] = {
    STRING_FIELD(ContentType, "contentType"),
    STRING_FIELD(ContentTransferEncoding, "contentTransferEncoding"),
    STRING_FIELD(ContentId, "contentId"),
    FieldOps{"Body", "body", [](MIME_ENTITY *e) { return kxBufferObj(mimeEntityBody(e)); }, mimeEntityHasBody,
             [](MIME_ENTITY **e, KX_OBJ *v) { mimeEntitySetBody(e, kxBufferFrom(v)); }, mimeEntityDelBody,
             newBuffer},
};

class EntityField : public ::testing::TestWithParam<FieldOps> {};

INSTANTIATE_TEST_SUITE_P(AllFields, EntityField, ::testing::ValuesIn(kFields),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(Entity, NewEntityHasNoField) {
  EntityRef e(mimeEntityCreate());
  for (const FieldOps &f : kFields) {
    EXPECT_FALSE(f.has(e.get())) << f.label;
    EXPECT_EQ(f.get(e.get()), nullptr) << f.label;
  }
  EXPECT_EQ(kxObjSort(mimeEntityObj(e.get())), mimeEntitySort());
  EXPECT_STREQ(kxSortName(mimeEntitySort()), "MIME_ENTITY");
}

TEST_P(EntityField, SetStoresTheObjectItselfAndLeavesTheOthersAbsent) {
  const FieldOps &f = GetParam();
  EntityRef e(mimeEntityCreate());
  ObjRef value(f.makeValue());
  f.set(e.addr(), value.get());
  EXPECT_TRUE(f.has(e.get()));
  ObjRef got(f.get(e.get()));
  EXPECT_EQ(got.get(), value.get());
  EXPECT_EQ(refsOf(value.get()), 3);  // ours, the entity's, the getter's
  for (const FieldOps &other : kFields) {
    if (other.set != f.set) {
      EXPECT_FALSE(other.has(e.get())) << other.label;
    }
  }
}

TEST_P(EntityField, DeleteReleasesTheValueOnce) {
  const FieldOps &f = GetParam();
  EntityRef e(mimeEntityCreate());
  ObjRef value(f.makeValue());
  f.set(e.addr(), value.get());
  MIME_ENTITY *before = e.get();
  f.del(e.addr());
  EXPECT_EQ(e.get(), before);  // not shared: changed in place
  EXPECT_FALSE(f.has(e.get()));
  EXPECT_EQ(refsOf(value.get()), 1);
  f.del(e.addr());  // deleting an absent field is no error
  EXPECT_FALSE(f.has(e.get()));
}

TEST_P(EntityField, SettingTheValueItAlreadyHoldsKeepsItValid) {
  const FieldOps &f = GetParam();
  EntityRef e(mimeEntityCreate());
  KX_OBJ *value = f.makeValue();
  f.set(e.addr(), value);
  kxObjRelease(value);  // the entity holds the only reference: releasing before retaining would free it
  f.set(e.addr(), value);
  EXPECT_EQ(refsOf(value), 1);
  ObjRef again(f.get(e.get()));
  EXPECT_EQ(again.get(), value);
}

TEST_P(EntityField, ChangingASharedEntityCopiesItFirst) {
  const FieldOps &f = GetParam();
  EntityRef original(mimeEntityCreate());
  for (const FieldOps &any : kFields) any.set(original.addr(), ObjRef(any.makeValue()).get());
  EntityRef other(mimeEntityRetain(original.get()));

  ObjRef replacement(f.makeValue());
  EntityRef mine(mimeEntityRetain(original.get()));
  f.set(mine.addr(), replacement.get());
  EXPECT_NE(mine.get(), other.get());
  ObjRef seen(f.get(other.get()));
  EXPECT_NE(seen.get(), replacement.get());  // the other holder sees the old value
  for (const FieldOps &any : kFields) {
    if (any.set == f.set) continue;
    ObjRef a(any.get(mine.get())), b(any.get(other.get()));
    EXPECT_EQ(a.get(), b.get()) << any.label << " is shared, not copied";
  }

  EntityRef deleter(mimeEntityRetain(original.get()));
  f.del(deleter.addr());
  EXPECT_NE(deleter.get(), original.get());
  EXPECT_FALSE(f.has(deleter.get()));
  EXPECT_TRUE(f.has(original.get()));
}

TEST(Entity, CreateFromSharesEveryField) {
  EntityRef source(mimeEntityCreate());
  std::vector<ObjRef> values;
  for (const FieldOps &f : kFields) {
    values.emplace_back(f.makeValue());
    f.set(source.addr(), values.back().get());
  }
  EntityRef copy(mimeEntityCreateFrom(source.get()));
  EXPECT_NE(copy.get(), source.get());
  for (size_t i = 0; i < std::size(kFields); ++i) {
    ObjRef got(kFields[i].get(copy.get()));
    EXPECT_EQ(got.get(), values[i].get()) << kFields[i].label;
  }
}

TEST(Entity, ReleasingTheLastReferenceReleasesEachFieldOnce) {
  std::vector<ObjRef> values;
  {
    EntityRef e(mimeEntityCreate());
    for (const FieldOps &f : kFields) {
      values.emplace_back(f.makeValue());
      f.set(e.addr(), values.back().get());
    }
    EntityRef copy(mimeEntityCreateFrom(e.get()));
    for (const ObjRef &v : values) EXPECT_EQ(refsOf(v.get()), 3);
  }
  for (const ObjRef &v : values) EXPECT_EQ(refsOf(v.get()), 1);
}

TEST(Entity, FromChecksTheSort) {
  EXPECT_EQ(mimeEntityFrom(nullptr), nullptr);
  EntityRef e(mimeEntityCreate());
  EXPECT_EQ(mimeEntityFrom(mimeEntityObj(e.get())), e.get());
  EXPECT_TRUE(mimeEntityEquals(e.get(), e.get()));
}

// --- contract violations ---

using EntityDeathTest = ::testing::Test;

TEST(EntityDeathTest, BrokenPreconditionsAbortWithTheirExpression) {
  EntityRef e(mimeEntityCreate());
  MIME_ENTITY *none = nullptr;
  OptionsRef opt(mimeOptionsCreate());
  EXPECT_DEATH(mimeEntityContentType(nullptr), abortText("", "ent"));
  EXPECT_DEATH(mimeEntityHasBody(nullptr), abortText("", "ent"));
  EXPECT_DEATH(mimeEntitySetBody(nullptr, buf("x").get()), abortText("", "ent"));
  EXPECT_DEATH(mimeEntitySetBody(&none, buf("x").get()), abortText("", "*ent"));
  EXPECT_DEATH(mimeEntityDelContentId(&none), abortText("", "*ent"));
  EXPECT_DEATH(mimeEntityCreateFrom(nullptr), abortText("", "source"));
  EXPECT_DEATH(mimeEntityFrom(mimeOptionsObj(opt.get())),
               abortText("stdfunc from", "!obj || kxObjSort(obj)==&mime___sort_MIME_ENTITY"));
  EXPECT_DEATH(mimeEntityRetain(nullptr), abortText("stdfunc retain", "obj"));
  EXPECT_DEATH(mimeEntityCompare(e.get(), nullptr), abortText("stdfunc compare b", "objB"));
}

TEST_P(EntityField, SettingNullAbortsWithTheFieldName) {
  const FieldOps &f = GetParam();
  EntityRef e(mimeEntityCreate());
  EXPECT_DEATH(f.set(e.addr(), nullptr), abortText("", f.nullValueExpression));
}

}  // namespace
