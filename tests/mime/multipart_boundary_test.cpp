// Boundaries: the RFC 2046 grammar, the generator and the delimiter search.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

TEST(MultipartBoundary, OkFollowsTheGrammar) {
  const std::pair<std::u32string, bool> rows[] = {
      {U"", false},
      {U"=", true},
      {U" ", false},
      {std::u32string(70, U'x'), true},
      {std::u32string(71, U'x'), false},
      {std::u32string(69, U'x') + U" ", false},
      {U"a b", true},
      {U"'()+_,-./:=?", true},
      {U"a\tb", false},
      {U"a\"b", false},
      {U"a;b", false},
      {U"ab\u00e9", false},
      {U"a\U0001F600", false},
      {std::u32string(U"a\0b", 3), false},
  };
  for (const auto &[boundary, ok] : rows)
    EXPECT_EQ(mimeMultipartBoundaryOk(kxText(boundary).get()), ok ? 1 : 0) << utf8Of(kxText(boundary).get());
}

TEST(MultipartBoundary, GeneratedBoundariesAreValidTenLettersOrDigitsAndUseTheWholeAlphabet) {
  std::set<char> seen;
  std::set<std::string> distinct;
  for (int i = 0; i < 1000; ++i) {
    StringRef b(mimeMultipartBoundaryGenerate());
    const std::string text = utf8Of(b.get());
    ASSERT_EQ(text.size(), 10u) << text;
    ASSERT_TRUE(mimeMultipartBoundaryOk(b.get())) << text;
    for (char c : text) ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << text;
    seen.insert(text.begin(), text.end());
    distinct.insert(text);
  }
  EXPECT_EQ(seen.size(), 62u);  // 10000 draws: missing one of 62 characters has odds below 1e-60
  EXPECT_EQ(distinct.size(), 1000u);
}

TEST(MultipartBoundary, FindDelimiterCountsOnlyLineStarts) {
  const std::tuple<const char *, std::string, kxInt, kxInt> rows[] = {
      // label, content, offset, expected
      // boundary "B1", delimiter "--B1"
      {"at the very start", "--B1\r\nx", 0, 0},
      {"at the start without anything after", "--B1", 0, 0},
      {"CR LF then the delimiter at the start", "\r\n--B1\r\n", 0, 0},
      {"the first of two, after a line", "a\r\n--B1\r\nb\r\n--B1--", 0, 1},
      {"followed by more boundary characters", "a\r\n--B1234", 0, 1},
      {"after a bare LF or CR only", "a\n--B1\r--B1\r\n", 0, -1},
      {"mid-line only", "a --B1\r\n", 0, -1},
      {"case differs", "a\r\n--b1", 0, -1},
      {"cut after the CR LF", "a\r\n--B", 0, -1},
      {"only at the start, searched from 1", "--B1\r\n", 1, -1},
      {"search starts at the CR", "--B1\r\n\r\n--B1--", 6, 6},
      {"search starts past the CR", "--B1\r\n\r\n--B1--", 7, -1},
      {"offset at the end", "x\r\n--B1", 7, -1},
      {"CR LF CR LF before it", "\r\n\r\n--B1", 0, 2},
  };
  for (const auto &[label, content, offset, expected] : rows)
    EXPECT_EQ(mime___MultipartFindDelimiter(str("B1").get(), buf(content).get(), offset), expected) << label;
}

TEST(MultipartBoundary, FindDelimiterIsLinearOnNearMisses) {
  // CR LF "--" and the boundary but its last character, runs of CR and of CR LF, then the real one.
  const std::string boundary(70, 'q');
  std::string content;
  while (content.size() < (2u << 20)) content += "\r\n--" + std::string(69, 'q') + "x";
  content.append(1u << 20, '\r');
  for (int i = 0; i < (1 << 19); ++i) content += "\r\n";
  const auto expected = static_cast<kxInt>(content.size());
  content += "\r\n--" + boundary;
  EXPECT_EQ(mime___MultipartFindDelimiter(str(boundary).get(), buf(content).get(), 0), expected);
}

}  // namespace
