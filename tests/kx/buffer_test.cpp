// Buffers: octets and bit lengths, O(1) slices that share storage, copy-on-write appends, ordering.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

TEST(BufferCreate, FromBytesAndBits) {
  BufferRef empty(kxBufferCreate());
  EXPECT_EQ(kxBufferLength(empty.get()), 0);
  EXPECT_NE(kxBufferBacking(empty.get()), nullptr) << "an empty backing may go to memcpy";
  BufferRef bytes = buf(std::string("a\0b", 3));
  EXPECT_EQ(bytesOf(bytes.get()), std::string("a\0b", 3));
  EXPECT_EQ(kxBufferBitLength(bytes.get()), 24);
  const kxByte bits[] = {0xFF, 0x80};
  BufferRef partial(kxBufferCreateFromBits(bits, 9));
  EXPECT_EQ(kxBufferLength(partial.get()), 2) << "a partly used last octet counts";
  EXPECT_EQ(kxBufferBitLength(partial.get()), 9);
}

TEST(BufferCreateUninitialized, CallerWritesTheOctets) {
  kxByte *backing = nullptr;
  BufferRef b(kxBufferCreateUninitialized(5, &backing));
  std::memcpy(backing, "hello", 5);
  EXPECT_EQ(bytesOf(b.get()), "hello");
  BufferRef empty(kxBufferCreateUninitialized(0, &backing));
  EXPECT_NE(backing, nullptr);
  EXPECT_EQ(kxBufferLength(empty.get()), 0);
}

TEST(BufferSpace, CountsDownFromTheMaximum) {
  BufferRef b = buf("abc");
  EXPECT_EQ(kxBufferSpace(b.get()), KX_BUFFER_MAX_LENGTH - 3);
}

struct CompareCase {
  const char *label;
  std::string a;
  kxInt aBits;
  std::string b;
  kxInt bBits;
  kxInt expected;
};

const CompareCase kCompareCases[] = {
    {"equal", "ab", 16, "ab", 16, 0},
    {"octets first", "b", 8, "ab", 16, 1},
    {"unsigned octets", "\x80", 8, "\x7F", 8, 1},
    {"prefix first", "a", 8, "ab", 16, -1},
    {"same octets, fewer bits first", "\x80", 1, "\x80", 8, -1},
    {"empty first", "", 0, "\x00", 8, -1},
};

TEST(BufferCompare, ByOctetsThenBitLength) {
  for (const auto &c : kCompareCases) {
    BufferRef a(kxBufferCreateFromBits(c.a.data(), c.aBits));
    BufferRef b(kxBufferCreateFromBits(c.b.data(), c.bBits));
    EXPECT_EQ(kxObjCompare(kxBufferObj(a.get()), kxBufferObj(b.get())), c.expected) << c.label;
    EXPECT_EQ(kxObjCompare(kxBufferObj(b.get()), kxBufferObj(a.get())), -c.expected) << c.label;
  }
}

// --- slices ---

TEST(BufferRead, SharesTheParentStorage) {
  std::string body(1 << 24, 'x');
  BufferRef parent = buf(body);
  BufferRef part(kxBufferRead(parent.get(), 1 << 20, 1 << 22));
  EXPECT_EQ(kxBufferBacking(part.get()), kxBufferBacking(parent.get()) + (1 << 20)) << "no copy";
  EXPECT_EQ(kxBufferLength(part.get()), 1 << 22);
  BufferRef whole(kxBufferRead(parent.get(), 0, 1 << 24));
  EXPECT_EQ(kxObjCompare(kxBufferObj(whole.get()), kxBufferObj(parent.get())), 0);
  BufferRef none(kxBufferRead(parent.get(), 1 << 24, 0));
  EXPECT_EQ(kxBufferLength(none.get()), 0);
}

TEST(BufferRead, SliceOutlivesItsParent) {
  BufferRef parent = buf("header\r\nbody");
  BufferRef part(kxBufferRead(parent.get(), 8, 4));
  parent.reset();
  EXPECT_EQ(bytesOf(part.get()), "body");
}

TEST(BufferAppend, ToASliceDoesNotLeakIntoTheParent) {
  BufferRef parent = buf("abcdef");
  BufferRef part(kxBufferRead(parent.get(), 0, 2));
  kxBufferAppendBytes(part.addr(), "XY", 2);
  EXPECT_EQ(bytesOf(part.get()), "abXY");
  EXPECT_EQ(bytesOf(parent.get()), "abcdef");
  kxBufferAppendByte(parent.addr(), 'g');
  EXPECT_EQ(bytesOf(parent.get()), "abcdefg");
  EXPECT_EQ(bytesOf(part.get()), "abXY");
}

TEST(BufferAppend, ParentAppendDoesNotLeakIntoTheSlice) {
  BufferRef parent = buf("ab");
  BufferRef part(kxBufferRead(parent.get(), 0, 2));
  kxBufferTruncate(parent.addr(), 1);
  kxBufferAppendByte(parent.addr(), 'Z');
  EXPECT_EQ(bytesOf(parent.get()), "aZ");
  EXPECT_EQ(bytesOf(part.get()), "ab");
}

TEST(BufferAppend, SharedBufferIsCopiedFirst) {
  BufferRef original = buf("ab");
  BufferRef other = BufferRef::retained(original.get());
  kxBufferAppendBytes(original.addr(), "cd", 2);
  EXPECT_NE(original.get(), other.get());
  EXPECT_EQ(bytesOf(other.get()), "ab");
  EXPECT_EQ(bytesOf(original.get()), "abcd");
  EXPECT_EQ(refsOf(other.get()), 1);
}

TEST(BufferAppend, UnsharedBufferChangesInPlaceAndGrowsGeometrically) {
  BufferRef b(kxBufferCreate());
  KX_BUFFER *before = nullptr;
  std::set<const kxByte *> blocks;
  for (int i = 0; i < 100000; ++i) {
    kxBufferAppendByte(b.addr(), static_cast<kxByte>(i));
    if (i == 0) before = b.get();
    blocks.insert(kxBufferBacking(b.get()));
  }
  EXPECT_EQ(b.get(), before);
  EXPECT_EQ(kxBufferLength(b.get()), 100000);
  EXPECT_EQ(kxBufferBacking(b.get())[99999], static_cast<kxByte>(99999));
  EXPECT_LT(blocks.size(), 40u);
}

TEST(BufferAppend, ToItselfAndFromItsOwnBacking) {
  BufferRef b = buf("ab");
  kxBufferAppend(b.addr(), b.get());
  EXPECT_EQ(bytesOf(b.get()), "abab");
  for (int i = 0; i < 5; ++i)
    kxBufferAppendBytes(b.addr(), kxBufferBacking(b.get()), kxBufferLength(b.get()));
  EXPECT_EQ(kxBufferLength(b.get()), 4 * 32);
  EXPECT_EQ(bytesOf(b.get()).substr(120), "abababab");
  BufferRef slice(kxBufferRead(b.get(), 1, 2));
  kxBufferAppend(b.addr(), slice.get());
  EXPECT_EQ(bytesOf(b.get()).substr(124), "ababba");
}

TEST(BufferTruncate, SharedBufferKeepsItsLength) {
  BufferRef original = buf("abcd");
  BufferRef other = BufferRef::retained(original.get());
  kxBufferTruncate(original.addr(), 1);
  EXPECT_EQ(bytesOf(original.get()), "a");
  EXPECT_EQ(bytesOf(other.get()), "abcd");
}

// --- contract violations ---

TEST(BufferDeathTest, NullAndRangeAbort) {
  EXPECT_DEATH(kxBufferLength(nullptr), abortLine("kx_buffer\\.cpp", "b"));
  BufferRef b = buf("abc");
  EXPECT_DEATH(kxBufferRead(b.get(), 2, 2), "offset <= kxBufferLength\\(b\\) - length");
  EXPECT_DEATH(kxBufferRead(b.get(), -1, 1), "offset >= 0");
  const kxByte bits[] = {0xFF};
  BufferRef partial(kxBufferCreateFromBits(bits, 3));
  EXPECT_DEATH(kxBufferAppendByte(partial.addr(), 1),
               abortLine("kx_buffer\\.cpp", "kxBufferBitLength\\( \\*b \\) % 8 == 0"));
}

}  // namespace
