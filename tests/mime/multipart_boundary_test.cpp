// Boundaries: the RFC 2046 grammar, the generator and the delimiter search.
#include <gtest/gtest.h>

#include <set>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;

struct BoundaryCase {
  const char *label;
  std::u32string boundary;
  bool ok;
};

const BoundaryCase kBoundaries[] = {
    {"empty", U"", false},
    {"one letter", U"a", true},
    {"single equals sign", U"=", true},
    {"single space", U" ", false},
    {"70 letters", std::u32string(70, U'x'), true},
    {"71 letters", std::u32string(71, U'x'), false},
    {"69 letters and a space", std::u32string(69, U'x') + U" ", false},
    {"space inside", U"a b", true},
    {"ends in a space", U"ab ", false},
    {"all twelve punctuation", U"'()+_,-./:=?", true},
    {"tab", U"a\tb", false},
    {"double quote", U"a\"b", false},
    {"semicolon", U"a;b", false},
    {"CR", U"a\rb", false},
    {"non-ASCII letter", U"ab\u00e9", false},
    {"code point above U+FFFF", U"a\U0001F600", false},
    {"NUL", std::u32string(U"a\0b", 3), false},
};

TEST(MultipartBoundary, OkFollowsTheGrammar) {
  for (const BoundaryCase &c : kBoundaries) {
    StringRef s(kxStringCreateFromChars(reinterpret_cast<const kxChar *>(c.boundary.data()),
                                        static_cast<kxInt>(c.boundary.size())));
    EXPECT_EQ(mimeMultipartBoundaryOk(s.get()), c.ok ? 1 : 0) << c.label;
  }
}

TEST(MultipartBoundary, GeneratedBoundariesAreValidTenLettersOrDigitsAndUseTheWholeAlphabet) {
  std::set<char> seen;
  std::set<std::string> distinct;
  for (int i = 0; i < 3000; ++i) {
    StringRef b(mimeMultipartBoundaryGenerate());
    const std::string text = utf8Of(b.get());
    ASSERT_EQ(text.size(), 10u) << text;
    ASSERT_TRUE(mimeMultipartBoundaryOk(b.get())) << text;
    for (char c : text) {
      ASSERT_TRUE((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) << text;
      seen.insert(c);
    }
    distinct.insert(text);
  }
  EXPECT_EQ(seen.size(), 62u);  // 30000 draws: missing one of 62 characters has odds below 1e-200
  EXPECT_EQ(distinct.size(), 3000u);
}

struct FindCase {
  const char *label;
  std::string content;
  kxInt offset;
  kxInt expected;
};

// Boundary "B1"; delimiter "--B1".
const FindCase kFinds[] = {
    {"at the very start", "--B1\r\nx", 0, 0},
    {"at the start without anything after", "--B1", 0, 0},
    {"CR LF then the delimiter at the start", "\r\n--B1\r\n", 0, 0},
    {"after a line", "text\r\n--B1\r\n", 0, 4},
    {"the first of two", "a\r\n--B1\r\nb\r\n--B1--", 0, 1},
    {"followed by more boundary characters", "a\r\n--B1234", 0, 1},
    {"a close delimiter counts", "a\r\n--B1--", 0, 1},
    {"after a bare LF only", "a\n--B1\r\n", 0, -1},
    {"after a bare CR only", "a\r--B1\r\n", 0, -1},
    {"mid-line only", "a --B1\r\n", 0, -1},
    {"case differs", "a\r\n--b1", 0, -1},
    {"shorter than the delimiter", "--B", 0, -1},
    {"empty", "", 0, -1},
    {"cut after the CR LF", "a\r\n--B", 0, -1},
    {"only at the start, searched from 1", "--B1\r\n", 1, -1},
    {"search starts at the CR", "--B1\r\n\r\n--B1--", 6, 6},
    {"search starts past the CR", "--B1\r\n\r\n--B1--", 7, -1},
    {"offset at the end", "x\r\n--B1", 7, -1},
    {"CR LF CR LF before it", "\r\n\r\n--B1", 0, 2},
};

TEST(MultipartBoundary, FindDelimiterCountsOnlyLineStarts) {
  StringRef boundary = str("B1");
  for (const FindCase &c : kFinds) {
    BufferRef content = buf(c.content);
    EXPECT_EQ(mime___MultipartFindDelimiter(boundary.get(), content.get(), c.offset), c.expected) << c.label;
  }
}

TEST(MultipartBoundary, FindDelimiterIsLinearOnHostileContent) {
  // Near-misses everywhere: CR LF pairs, CR LF "--" and the boundary but one, then the real one at the end.
  StringRef boundary = str(std::string(70, 'q'));
  const std::string nearMiss = "\r\n--" + std::string(69, 'q') + "x";
  std::string content;
  while (content.size() < (8u << 20)) content += nearMiss;
  content.append(4u << 20, '\r');
  for (int i = 0; i < (1 << 20); ++i) content += "\r\n";
  const kxInt expected = static_cast<kxInt>(content.size());
  content += "\r\n--" + std::string(70, 'q');
  BufferRef b = buf(content);
  EXPECT_EQ(mime___MultipartFindDelimiter(boundary.get(), b.get(), 0), expected);
}

using MultipartBoundaryDeathTest = ::testing::Test;

TEST(MultipartBoundaryDeathTest, BrokenPreconditionsAbort) {
  StringRef good = str("B1");
  StringRef bad = str("ends in space ");
  BufferRef content = buf("abc");
  EXPECT_DEATH(mimeMultipartBoundaryOk(nullptr), abortText("", "boundary"));
  EXPECT_DEATH(mime___MultipartFindDelimiter(bad.get(), content.get(), 0),
               abortText("", "mimeMultipartBoundaryOk( boundary )"));
  EXPECT_DEATH(mime___MultipartFindDelimiter(good.get(), nullptr, 0), abortText("", "buf"));
  EXPECT_DEATH(mime___MultipartFindDelimiter(good.get(), content.get(), -1), abortText("", "offset >= 0"));
  EXPECT_DEATH(mime___MultipartFindDelimiter(good.get(), content.get(), 4),
               abortText("", "offset <= kxBufferLength( buf )"));
}

}  // namespace
