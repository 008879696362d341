// Vectors: references held, deletion, sort checks and the string form. (Order and copy-on-write:
// obj_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

// The strings of text split at ',' (none for the empty text).
VectorRef vectorOf(const char *text) {
  return VectorRef(*text ? kxStringSplitChar(str(text).get(), ',', -1) : kxVectorCreate());
}

TEST(Vector, HoldsOneReferencePerElementAndObjAtReturnsANewOne) {
  VectorRef v(kxVectorCreate());
  StringRef s = str("a");
  kxVectorAppendObj(v.addr(), kxStringObj(s.get()));
  ObjRef item(kxVectorObjAt(v.get(), 0));
  EXPECT_EQ(item.get(), kxStringObj(s.get()));
  EXPECT_EQ(refsOf(s.get()), 3);
  v.reset();
  item.reset();
  EXPECT_EQ(refsOf(s.get()), 1);
}

TEST(VectorDelAt, RemovesOneElement) {
  const char *expected[] = {"[b, c]", "[a, c]", "[a, b]"};
  for (kxInt index = 0; index < 3; ++index) {
    VectorRef v = vectorOf("a,b,c");
    kxVectorDelAt(v.addr(), index);
    EXPECT_EQ(textOf(v.get()), expected[index]) << index;
  }
}

TEST(VectorContainsOnly, ChecksEveryElement) {
  VectorRef v = vectorOf("");
  EXPECT_EQ(kxVectorContainsOnly(v.get(), kxStringSort()), 1) << "empty";
  kxVectorAppendObj(v.addr(), kxStringObj(str("a").get()));
  EXPECT_EQ(kxVectorContainsOnly(v.get(), kxStringSort()), 1);
  kxVectorAppendObj(v.addr(), kxBufferObj(buf("x").get()));
  EXPECT_EQ(kxVectorContainsOnly(v.get(), kxStringSort()), 0);
}

}  // namespace
