// The entity object: four independent fields, copy-on-write changers, exact ownership.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

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

// A changer copies a shared entity first; the copy, like one made by mimeEntityCreateFrom, holds the same
// field objects, not copies, except the one replaced.
TEST(Entity, ChangingASharedEntityCopiesItFirstAndCopiesShareTheFields) {
  for (const FieldOps &f : kFields) {
    SCOPED_TRACE(f.label);
    EntityRef original(mimeEntityCreate());
    for (const FieldOps &any : kFields) any.set(original.addr(), valueFor(any).get());
    EntityRef setter(mimeEntityRetain(original.get())), deleter(mimeEntityRetain(original.get()));
    EntityRef copy(mimeEntityCreateFrom(original.get()));
    ObjRef replacement = valueFor(f);
    f.set(setter.addr(), replacement.get());
    f.del(deleter.addr());
    ASSERT_NE(setter.get(), original.get());
    ASSERT_NE(deleter.get(), original.get());
    ASSERT_NE(copy.get(), original.get());
    EXPECT_NE(ObjRef(f.get(original.get())).get(), replacement.get());  // the other holder sees the old value
    EXPECT_TRUE(f.has(original.get()));
    EXPECT_FALSE(f.has(deleter.get()));
    EXPECT_EQ(refsOf(original.get()), 1);
    for (const FieldOps &any : kFields) {
      ObjRef held(any.get(original.get()));
      EXPECT_EQ(ObjRef(any.get(setter.get())).get() == held.get(), &any != &f) << any.label;
      EXPECT_EQ(ObjRef(any.get(copy.get())).get(), held.get()) << any.label;
      // Held by the original, the copy and this test, and unless replaced or deleted by setter and deleter.
      EXPECT_EQ(refsOf(held.get()), &any == &f ? 3 : 5) << any.label;
    }
  }
}

}  // namespace
