// The entity object: four independent fields, copy-on-write changers, exact ownership.
#include <gtest/gtest.h>

#include "mime/wire_test_support.hpp"

namespace {

using namespace wiretest;

// One field's four operations, so that every behaviour runs over all four fields.
struct FieldOps {
  const char *label;
  KX_OBJ *(*get)(MIME_ENTITY *);
  kxBool (*has)(MIME_ENTITY *);
  void (*set)(MIME_ENTITY **, KX_OBJ *);
  void (*del)(MIME_ENTITY **);
};

// clang-format off
#define STRING_FIELD(Name)                                                                              \
  FieldOps{#Name, [](MIME_ENTITY *e) { return kxStringObj(mimeEntity##Name(e)); }, mimeEntityHas##Name, \
           [](MIME_ENTITY **e, KX_OBJ *v) { mimeEntitySet##Name(e, kxStringFrom(v)); }, mimeEntityDel##Name}
// clang-format on

const FieldOps kFields[] = {
    STRING_FIELD(ContentType),
    STRING_FIELD(ContentTransferEncoding),
    STRING_FIELD(ContentId),
    {"Body", [](MIME_ENTITY *e) { return kxBufferObj(mimeEntityBody(e)); }, mimeEntityHasBody,
     [](MIME_ENTITY **e, KX_OBJ *v) { mimeEntitySetBody(e, kxBufferFrom(v)); }, mimeEntityDelBody},
};

ObjRef valueFor(const FieldOps &f) {
  return ObjRef(&f == &kFields[3] ? kxBufferObj(buf("body").release()) : kxStringObj(str(f.label).release()));
}

TEST(Entity, EachFieldIsStoredSharedAndReleasedOnItsOwn) {
  for (const FieldOps &f : kFields) {
    SCOPED_TRACE(f.label);
    EntityRef e(mimeEntityCreate());
    MIME_ENTITY *before = e.get();
    EXPECT_FALSE(f.has(e.get()));
    EXPECT_EQ(f.get(e.get()), nullptr);
    KX_OBJ *value = valueFor(f).release();
    f.set(e.addr(), value);
    EXPECT_EQ(ObjRef(f.get(e.get())).get(), value);  // the object itself, not a copy
    EXPECT_EQ(refsOf(value), 2);
    for (const FieldOps &other : kFields) EXPECT_EQ(other.has(e.get()), &other == &f) << other.label;
    kxObjRelease(value);     // the entity holds the only reference:
    f.set(e.addr(), value);  // releasing the old value before retaining the new one would free it
    ObjRef held = ObjRef::retained(value);
    f.del(e.addr());
    EXPECT_EQ(e.get(), before);  // not shared: changed in place
    EXPECT_FALSE(f.has(e.get()));
    EXPECT_EQ(refsOf(value), 1);
    f.del(e.addr());  // deleting an absent field is no error
  }
}

TEST(Entity, ChangingASharedEntityCopiesItFirstAndTheCopySharesTheOtherFields) {
  for (const FieldOps &f : kFields) {
    SCOPED_TRACE(f.label);
    EntityRef original(mimeEntityCreate());
    for (const FieldOps &any : kFields) any.set(original.addr(), valueFor(any).get());
    EntityRef setter(mimeEntityRetain(original.get())), deleter(mimeEntityRetain(original.get()));
    ObjRef replacement = valueFor(f);
    f.set(setter.addr(), replacement.get());
    f.del(deleter.addr());
    ASSERT_NE(setter.get(), original.get());
    ASSERT_NE(deleter.get(), original.get());
    EXPECT_NE(ObjRef(f.get(original.get())).get(), replacement.get());  // the other holder sees the old value
    EXPECT_TRUE(f.has(original.get()));
    EXPECT_FALSE(f.has(deleter.get()));
    EXPECT_EQ(refsOf(original.get()), 1);
    for (const FieldOps &any : kFields)  // the same objects, not copies, except the one replaced
      EXPECT_EQ(ObjRef(any.get(setter.get())).get() == ObjRef(any.get(original.get())).get(), &any != &f)
          << any.label;
  }
}

TEST(Entity, CreateFromSharesEveryFieldAndTheLastReleaseReleasesEachOnce) {
  std::vector<ObjRef> values;
  {
    EntityRef source(mimeEntityCreate());
    for (const FieldOps &f : kFields) {
      values.push_back(valueFor(f));
      f.set(source.addr(), values.back().get());
    }
    EntityRef copy(mimeEntityCreateFrom(source.get()));
    EXPECT_NE(copy.get(), source.get());
    for (size_t i = 0; i < std::size(kFields); ++i) {
      EXPECT_EQ(ObjRef(kFields[i].get(copy.get())).get(), values[i].get()) << kFields[i].label;
      EXPECT_EQ(refsOf(values[i].get()), 3);
    }
  }
  for (const ObjRef &v : values) EXPECT_EQ(refsOf(v.get()), 1);
}

TEST(EntityDeathTest, ASetterNeedsAReferenceAtTheAddress) {
  MIME_ENTITY *none = nullptr;
  EXPECT_DEATH(mimeEntitySetContentId(&none, str("x").get()), abortText("", "*ent"));
}

}  // namespace
