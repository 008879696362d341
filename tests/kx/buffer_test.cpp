// Buffers: octets and bit lengths, O(1) slices that share storage without letting appends leak between
// slice and parent, appends from the buffer itself, growth. (Order and copy-on-write: obj_test.cpp.)
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

TEST(BufferCreate, FromBytesAndBits) {
  BufferRef empty(kxBufferCreate());
  EXPECT_NE(kxBufferBacking(empty.get()), nullptr) << "an empty backing may go to memcpy";
  BufferRef bytes = buf(std::string("a\0b", 3));
  EXPECT_EQ(bytesOf(bytes.get()), std::string("a\0b", 3));
  EXPECT_EQ(kxBufferBitLength(bytes.get()), 24);
  const kxByte bits[] = {0xFF, 0x80};
  BufferRef partial(kxBufferCreateFromBits(bits, 9));
  EXPECT_EQ(kxBufferLength(partial.get()), 2) << "a partly used last octet counts";
  EXPECT_EQ(kxBufferBitLength(partial.get()), 9);
}

// --- slices ---

TEST(BufferRead, SharesTheParentStorageAndOutlivesIt) {
  BufferRef parent = buf(std::string(1 << 24, 'x') + "tail");
  BufferRef part(kxBufferRead(parent.get(), 1 << 20, 1 << 22));
  EXPECT_EQ(kxBufferBacking(part.get()), kxBufferBacking(parent.get()) + (1 << 20)) << "no copy";
  EXPECT_EQ(kxBufferLength(part.get()), 1 << 22);
  BufferRef tail(kxBufferRead(parent.get(), 1 << 24, 4));
  parent.reset();
  EXPECT_EQ(bytesOf(tail.get()), "tail");
}

TEST(BufferRead, AppendsLeakNeitherFromSliceToParentNorBack) {
  BufferRef parent = buf("abcdef");
  BufferRef part(kxBufferRead(parent.get(), 0, 2));
  kxBufferAppendBytes(part.addr(), "XY", 2);
  EXPECT_EQ(bytesOf(part.get()), "abXY");
  EXPECT_EQ(bytesOf(parent.get()), "abcdef");
  BufferRef whole(kxBufferRead(parent.get(), 0, 6));
  kxBufferTruncate(parent.addr(), 1);
  kxBufferAppendByte(parent.addr(), 'Z');
  EXPECT_EQ(bytesOf(parent.get()), "aZ");
  EXPECT_EQ(bytesOf(whole.get()), "abcdef");
  EXPECT_EQ(bytesOf(part.get()), "abXY");
}

TEST(BufferTruncate, AMostlyUnusedBlockShrinksAndKeepsItsOctets) {
  std::string octets(1 << 20, 'x');
  octets.replace(0, 5, "head:");
  BufferRef alone = buf(octets);
  kxBufferTruncate(alone.addr(), 5);
  EXPECT_EQ(bytesOf(alone.get()), "head:");
  kxBufferAppendBytes(alone.addr(), "more", 4);
  EXPECT_EQ(bytesOf(alone.get()), "head:more");

  BufferRef shared = buf(octets);
  BufferRef slice(kxBufferRead(shared.get(), 1000, 3));
  kxBufferTruncate(shared.addr(), 5);
  EXPECT_EQ(bytesOf(shared.get()), "head:");
  EXPECT_EQ(bytesOf(slice.get()), "xxx") << "a slice keeps the block it reads from";
}

// --- appends ---

TEST(BufferAppend, ToItselfAndFromItsOwnBacking) {
  BufferRef b = buf("ab");
  kxBufferAppend(b.addr(), b.get());
  EXPECT_EQ(bytesOf(b.get()), "abab");
  for (int i = 0; i < 5; ++i)
    kxBufferAppendBytes(b.addr(), kxBufferBacking(b.get()), kxBufferLength(b.get()));
  EXPECT_EQ(kxBufferLength(b.get()), 4 * 32);
  BufferRef slice(kxBufferRead(b.get(), 1, 2));
  kxBufferAppend(b.addr(), slice.get());
  EXPECT_EQ(bytesOf(b.get()).substr(120), "ababababba");
}

TEST(BufferAppend, GrowsGeometrically) {
  BufferRef b(kxBufferCreate());
  std::set<const kxByte *> blocks;
  for (int i = 0; i < 100000; ++i) {
    kxBufferAppendByte(b.addr(), static_cast<kxByte>(i));
    blocks.insert(kxBufferBacking(b.get()));
  }
  EXPECT_EQ(kxBufferBacking(b.get())[99999], static_cast<kxByte>(99999));
  EXPECT_LT(blocks.size(), 40u) << "each append must not reallocate";
}

// --- wrapped memory ---

void countRelease(void *context) {
  ++*static_cast<int *>(context);
}

TEST(BufferWrapping, SharesTheMemoryAndGivesItBackOnceWithTheLastSlice) {
  const std::string owned = "wrapped octets";
  int released = 0;
  BufferRef whole(
      kxBufferCreateWrapping(owned.data(), static_cast<kxInt>(owned.size()), countRelease, &released));
  EXPECT_EQ(kxBufferBacking(whole.get()), reinterpret_cast<const kxByte *>(owned.data())) << "no copy";
  BufferRef slice(kxBufferRead(whole.get(), 8, 6));
  whole.reset();
  EXPECT_EQ(released, 0) << "a slice still reads the memory";
  EXPECT_EQ(bytesOf(slice.get()), "octets");
  slice.reset();
  EXPECT_EQ(released, 1);
}

// Each change of a wrapped buffer: the owner's octets stay as they were (a write into them would corrupt a
// mapped file or crash on read-only memory).
TEST(BufferWrapping, ChangesNeverWriteTheWrappedOctets) {
  const std::string owned = "abcdef";
  const std::pair<const char *, void (*)(KX_BUFFER **)> changes[] = {
      {"append", [](KX_BUFFER **b) { kxBufferAppendBytes(b, "XY", 2); }},
      {"truncate, then append into the room left",
       [](KX_BUFFER **b) {
         kxBufferTruncate(b, 2);
         kxBufferAppendBytes(b, "XY", 2);
       }},
      {"append itself", [](KX_BUFFER **b) { kxBufferAppend(b, *b); }},
  };
  for (const auto &[label, change] : changes) {
    int released = 0;
    BufferRef b(kxBufferCreateWrapping(owned.data(), 6, countRelease, &released));
    change(b.addr());
    EXPECT_EQ(owned, "abcdef") << label;
    EXPECT_EQ(released, 1) << label << ": the copy no longer needs the memory";
    b.reset();
    EXPECT_EQ(released, 1) << label;
  }
  BufferRef empty(kxBufferCreateWrapping(nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(kxBufferLength(empty.get()), 0);
}

}  // namespace
