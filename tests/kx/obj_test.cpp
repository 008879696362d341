// Objects: reference counts (also across threads), permanent objects, default compare and to-string,
// the abort line, and the scalar helpers of kx_defs.h.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

int freed = 0;
void countFree(KX_OBJ *) {
  ++freed;
}

KX_SORT thingSort = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "TEST_THING", countFree, nullptr, nullptr, {}};

ObjRef newThing() {
  return ObjRef(kx___ObjCreate(sizeof(KX_OBJ) + 8, &thingSort));
}

TEST(ObjRefCount, RetainReleaseAndFreeOnce) {
  freed = 0;
  KX_OBJ *thing = newThing().release();
  EXPECT_EQ(kx___ObjRefCount(thing), 1);
  EXPECT_EQ(kxObjIsShared(thing), 0);
  EXPECT_EQ(kxObjRetain(thing), thing);
  EXPECT_EQ(kxObjIsShared(thing), 1);
  kxObjRelease(thing);
  EXPECT_EQ(freed, 0);
  kxObjRelease(thing);
  EXPECT_EQ(freed, 1);
  kxObjRelease(nullptr);  // a no-op
}

TEST(ObjRefCount, AtomicAcrossThreads) {
  freed = 0;
  ObjRef thing = newThing();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&thing] {
      for (int i = 0; i < 50000; ++i) {
        kxObjRetain(thing.get());
        kxObjRelease(thing.get());
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(kx___ObjRefCount(thing.get()), 1);
  EXPECT_EQ(freed, 0);
}

TEST(ObjPermanent, RetainAndReleaseLeaveStaticObjectsAlone) {
  KX_OBJ *sortObj = &thingSort.obj;
  kxObjRetain(sortObj);
  kxObjRelease(sortObj);
  kxObjRelease(sortObj);
  EXPECT_EQ(kx___ObjRefCount(sortObj), KX_OBJ_PERMANENT_REFS);
  EXPECT_EQ(kxObjIsShared(sortObj), 1) << "a static object is never changed in place";
  EXPECT_EQ(kxObjSort(sortObj), kxSortSort());
  EXPECT_STREQ(kxSortName(&thingSort), "TEST_THING");
}

TEST(ObjCompare, DefaultsAndSortOrder) {
  ObjRef a = newThing();
  ObjRef b = newThing();
  kxInt ab = kxObjCompare(a.get(), b.get());
  EXPECT_NE(ab, 0) << "distinct objects without a compare function differ";
  EXPECT_EQ(kxObjCompare(b.get(), a.get()), -ab);
  EXPECT_EQ(kxObjEquals(a.get(), a.get()), 1);
  StringRef s = str("a");
  BufferRef buffer = buf("a");
  // Different sorts order by sort name: KX_BUFFER < KX_STRING < TEST_THING.
  EXPECT_LT(kxObjCompare(kxBufferObj(buffer.get()), kxStringObj(s.get())), 0);
  EXPECT_LT(kxObjCompare(kxStringObj(s.get()), a.get()), 0);
  EXPECT_EQ(kxObjEquals(kxStringObj(s.get()), kxBufferObj(buffer.get())), 0);
}

TEST(ObjToString, DefaultNamesSortAndAddress) {
  ObjRef a = newThing();
  char expected[64];
  std::snprintf(expected, sizeof expected, "<TEST_THING@%p>", static_cast<void *>(a.get()));
  EXPECT_EQ(textOf(a.get()), expected);
}

struct AbortCase {
  const char *label;
  const char *abortLabel;
  const char *expression;
  const char *expected;
};

const AbortCase kAbortCases[] = {
    {"label and expression", "stdfunc retain", "obj",
     "^kx abort: mime_entity\\.cpp:42: stdfunc retain: obj\n$"},
    {"expression only", nullptr, "KX_CHARSET_OK( charset )",
     "^kx abort: mime_entity\\.cpp:42: KX_CHARSET_OK\\( charset \\)\n$"},
    {"neither", nullptr, nullptr, "^kx abort: mime_entity\\.cpp:42\n$"},
};

TEST(AbortDeathTest, OneLineNamingFileLineLabelAndExpression) {
  for (const auto &c : kAbortCases) {
    EXPECT_DEATH(kx___Abort(c.abortLabel, "mime_entity.cpp", 42, c.expression), c.expected) << c.label;
  }
}

TEST(AbortDeathTest, AssertMacrosStringizeTheExpression) {
  int charset = 60;
  EXPECT_DEATH(KX_ASSERT(charset >= 0 && charset <= 50),
               abortLine("obj_test\\.cpp", "charset >= 0 && charset <= 50"));
  EXPECT_DEATH(KX_ASSERT_LABEL("stdfunc from", charset == 0),
               "obj_test\\.cpp:[0-9]+: stdfunc from: charset == 0\n");
  EXPECT_DEATH(kxObjRetain(nullptr), abortLine("kx_obj\\.cpp", "obj"));
  EXPECT_DEATH(kxObjCompare(nullptr, nullptr), abortLine("kx_obj\\.cpp", "a"));
}

struct IntCase {
  const char *label;
  kxInt a, b;
  bool addOk;
};

const IntCase kIntCases[] = {
    {"small", 1, 2, true},
    {"to the maximum", KX_INT_MAX - 1, 1, true},
    {"past the maximum", KX_INT_MAX, 1, false},
    {"to the minimum", KX_INT_MIN + 1, -1, true},
    {"past the minimum", KX_INT_MIN, -1, false},
    {"opposite signs", KX_INT_MAX, KX_INT_MIN, true},
};

TEST(Scalars, AdditionOverflowCheck) {
  for (const auto &c : kIntCases) {
    EXPECT_EQ(static_cast<bool>(KX_INT_ADD_OK(c.a, c.b)), c.addOk) << c.label;
  }
}

TEST(Scalars, HexadecimalDigitValues) {
  const std::pair<kxChar, kxInt> cases[] = {{'0', 0},  {'9', 9},  {'a', 10},   {'F', 15},
                                            {'f', 15}, {'g', -1}, {'G', -1},   {'/', -1},
                                            {':', -1}, {'@', -1}, {0xFF10, -1}};
  for (auto [c, expected] : cases) EXPECT_EQ(kxUnicodeHexadecimalDigitValue(c), expected) << c;
}

}  // namespace
