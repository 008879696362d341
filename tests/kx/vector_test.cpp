// Vectors: appends, deletion, copy-on-write, ordering and the string form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

VectorRef vectorOf(const std::vector<const char *> &items) {
  VectorRef v(kxVectorCreate());
  for (const char *item : items) {
    StringRef s = str(item);
    kxVectorAppendObj(v.addr(), kxStringObj(s.get()));
  }
  return v;
}

TEST(Vector, AppendRetainsAndObjAtReturnsANewReference) {
  VectorRef v(kxVectorCreate());
  StringRef s = str("a");
  kxVectorAppendObj(v.addr(), kxStringObj(s.get()));
  EXPECT_EQ(refsOf(s.get()), 2);
  ObjRef item(kxVectorObjAt(v.get(), 0));
  EXPECT_EQ(item.get(), kxStringObj(s.get()));
  EXPECT_EQ(refsOf(s.get()), 3);
  EXPECT_EQ(kxVectorBacking(v.get())[0], kxStringObj(s.get()));
  v.reset();
  item.reset();
  EXPECT_EQ(refsOf(s.get()), 1);
}

struct DelCase {
  const char *label;
  std::vector<const char *> items;
  kxInt index;
  const char *expected;
};

const DelCase kDelCases[] = {
    {"first", {"a", "b", "c"}, 0, "b|c"},
    {"middle", {"a", "b", "c"}, 1, "a|c"},
    {"last", {"a", "b", "c"}, 2, "a|b"},
    {"only", {"a"}, 0, ""},
};

TEST(VectorDelAt, RemovesOneElement) {
  for (const auto &c : kDelCases) {
    VectorRef v = vectorOf(c.items);
    kxVectorDelAt(v.addr(), c.index);
    EXPECT_EQ(joinStrings(v.get()), c.expected) << c.label;
    EXPECT_EQ(kxVectorLength(v.get()), static_cast<kxInt>(c.items.size()) - 1) << c.label;
  }
}

TEST(VectorCopyOnWrite, SharedVectorIsCopiedFirst) {
  VectorRef mine = vectorOf({"a", "b"});
  VectorRef other = VectorRef::retained(mine.get());
  StringRef c = str("c");
  kxVectorAppendObj(mine.addr(), kxStringObj(c.get()));
  EXPECT_EQ(joinStrings(other.get()), "a|b");
  EXPECT_EQ(joinStrings(mine.get()), "a|b|c");
  VectorRef third = VectorRef::retained(mine.get());
  kxVectorDelAt(mine.addr(), 0);
  EXPECT_EQ(joinStrings(third.get()), "a|b|c");
  EXPECT_EQ(joinStrings(mine.get()), "b|c");
}

TEST(VectorCopyOnWrite, UnsharedVectorChangesInPlace) {
  VectorRef v = vectorOf({"a"});
  KX_VECTOR *before = v.get();
  StringRef b = str("b");
  for (int i = 0; i < 1000; ++i) kxVectorAppendObj(v.addr(), kxStringObj(b.get()));
  kxVectorDelAt(v.addr(), 0);
  EXPECT_EQ(v.get(), before);
  EXPECT_EQ(kxVectorLength(v.get()), 1000);
  EXPECT_EQ(refsOf(b.get()), 1001);
}

TEST(VectorContainsOnly, ChecksEverySort) {
  VectorRef v(kxVectorCreate());
  EXPECT_EQ(kxVectorContainsOnly(v.get(), kxStringSort()), 1) << "empty";
  StringRef s = str("a");
  kxVectorAppendObj(v.addr(), kxStringObj(s.get()));
  EXPECT_EQ(kxVectorContainsOnly(v.get(), kxStringSort()), 1);
  BufferRef b = buf("x");
  kxVectorAppendObj(v.addr(), kxBufferObj(b.get()));
  EXPECT_EQ(kxVectorContainsOnly(v.get(), kxStringSort()), 0);
}

struct CompareCase {
  const char *label;
  std::vector<const char *> a, b;
  kxInt expected;
};

const CompareCase kCompareCases[] = {
    {"equal", {"a", "b"}, {"a", "b"}, 0},
    {"element decides", {"a", "c"}, {"a", "b"}, 1},
    {"prefix first", {"a"}, {"a", "b"}, -1},
    {"empty first", {}, {"a"}, -1},
};

TEST(VectorCompare, ElementWiseThenLength) {
  for (const auto &c : kCompareCases) {
    VectorRef a = vectorOf(c.a);
    VectorRef b = vectorOf(c.b);
    EXPECT_EQ(kxObjCompare(kxVectorObj(a.get()), kxVectorObj(b.get())), c.expected) << c.label;
    EXPECT_EQ(kxObjCompare(kxVectorObj(b.get()), kxVectorObj(a.get())), -c.expected) << c.label;
  }
}

TEST(VectorToString, BracketsAndCommas) {
  EXPECT_EQ(textOf(vectorOf({}).get()), "[]");
  EXPECT_EQ(textOf(vectorOf({"a"}).get()), "[a]");
  VectorRef nested = vectorOf({"a", "b"});
  VectorRef inner = vectorOf({"c"});
  kxVectorAppendObj(nested.addr(), kxVectorObj(inner.get()));
  EXPECT_EQ(textOf(nested.get()), "[a, b, [c]]");
}

TEST(VectorDeathTest, NullAndRangeAbort) {
  VectorRef v = vectorOf({"a"});
  EXPECT_DEATH(kxVectorAppendObj(v.addr(), nullptr), abortLine("kx_vector\\.cpp", "obj"));
  EXPECT_DEATH(kxVectorObjAt(v.get(), 1), "index >= 0 && index < v->length");
  EXPECT_DEATH(kxVectorDelAt(nullptr, 0), abortLine("kx_vector\\.cpp", "v"));
  EXPECT_DEATH(kxVectorLength(nullptr), abortLine("kx_vector\\.cpp", "v"));
}

}  // namespace
