// Strings: UTF-8 in and out, wide strings, equality, split, trim, lower-casing, appends of a string to
// itself and their growth. (Order and copy-on-write of the appends: obj_test.cpp.)
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

constexpr char32_t R = 0xFFFD;

// {label, octets, code points}: every ill-formed sequence becomes U+FFFD for its longest valid prefix, and
// reading resumes at the next octet.
const std::tuple<const char *, std::string, std::u32string> kDecodeCases[] = {
    {"one to four octets", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", U"Aé€😀"},
    {"largest code point", "\xF4\x8F\xBF\xBF", U"\U0010FFFF"},
    {"nul kept with explicit length", std::string("a\0b", 3), std::u32string(U"a\0b", 3)},
    {"overlong two octets, C1 the highest such lead", "\xC1\xAF", {R, R}},
    {"overlong three octets", "\xE0\x80\xAF", {R, R, R}},
    {"overlong four octets", "\xF0\x80\x80\xAF", {R, R, R, R}},
    {"high surrogate", "\xED\xA0\x80", {R, R, R}},
    {"last before surrogates", "\xED\x9F\xBF", U"\uD7FF"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
    {"F5 lead", "\xF5\x80", {R, R}},
    {"FF octet", "a\xFF", {U'a', R}},
    {"stray continuation", "\x80", {R}},
    {"truncated at end", "a\xE2\x82", {U'a', R}},
    {"truncated before ascii", "\xE2\x82\x41", {R, U'A'}},
    {"lead then lead", "\xC3\xC3\xA9", {R, U'é'}},
};

TEST(StringCreateFromCstr, DecodesUtf8ReplacingIllFormedSequences) {
  for (const auto &[label, octets, expected] : kDecodeCases) {
    StringRef s(kxStringCreateFromCstr(octets.data(), static_cast<kxInt>(octets.size())));
    EXPECT_EQ(codePoints(s.get()), expected) << label;
    EXPECT_EQ(kxStringEqualsCstr(s.get(), octets.data(), static_cast<kxInt>(octets.size())), 1) << label;
  }
  EXPECT_EQ(kxStringLength(StringRef(kxStringCreateFromCstr("ab\0cd", -1)).get()), 2) << "-1: up to the NUL";
  const wchar_t wide[] = {L'a', wchar_t(0xD800), wchar_t(0x110000), wchar_t(-1), wchar_t(0x10FFFF), 0};
  EXPECT_EQ(takeCodePoints(kxStringCreateFromWcstr(wide, -1)), (std::u32string{U'a', R, R, R, 0x10FFFF}));
  EXPECT_EQ(takeCodePoints(kxStringCreateFromWcstr(wide, 0)), U"") << "0 is a length, not up to the NUL";
}

// {code points, UTF-8}: what has no UTF-8 form is written as U+FFFD.
const std::pair<std::u32string, std::string> kEncodeCases[] = {
    {U"", ""},
    {std::u32string(1, U'\0'), std::string(1, '\0')},
    {U"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF",
     "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {{0xD800, 'x', 0xDFFF, 0x110000, 0xFFFFFFFF}, "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
};

TEST(StringConvertToCstr, WritesUtf8WithReplacementForUnencodable) {
  for (const auto &[chars, expected] : kEncodeCases) {
    kxInt length = -1;
    char *text = kxStringConvertToCstr(kxText(chars).get(), &length);
    EXPECT_EQ(std::string(text, static_cast<size_t>(length) + 1), expected + '\0') << "NUL-terminated";
    kxMemFree(text);
  }
}

// {s, cstr, equal exactly, equal but for ASCII case}
const std::tuple<const char *, const char *, kxBool, kxBool> kEqualsCases[] = {
    {"base64", "base64", 1, 1},
    {"Base64", "bASE64", 0, 1},
    {"base6", "base64", 0, 0},
    {"base64x", "base64", 0, 0},
    {"\xC3\x89", "\xC3\xA9", 0, 0},  // non-ASCII not folded
    {"", "", 1, 1},
    {"[", "{", 0, 0},  // '[' follows 'Z' as '{' follows 'z'
};

TEST(StringEqualsCstr, ExactAndAsciiCaseInsensitive) {
  for (const auto &[s, cstr, exact, caseFold] : kEqualsCases) {
    EXPECT_EQ(kxStringEqualsCstr(str(s).get(), cstr, -1), exact) << s;
    EXPECT_EQ(kxStringEqualsCaseFoldCstr(str(s).get(), cstr, -1), caseFold) << s;
  }
}

// {input, separator, max, the pieces}
const std::tuple<const char *, const char *, kxInt, const char *> kSplitCases[] = {
    {"a/b/c", "/", -1, "[a, b, c]"},
    {"a'b'c'd", "'", 3, "[a, b, c'd]"},  // the last piece keeps the rest
    {"a/b", "/", 1, "[a/b]"},
    {"", "/", -1, "[]"},
    {"a//b", "/", -1, "[a, , b]"},
    {"a: 1\r\nb: 2\r\n", "\r\n", -1, "[a: 1, b: 2, ]"},
    {"a\rb\r\r\nc", "\r\n", -1, "[a\rb\r, c]"},  // a bare CR is no separator
    {"aaa", "aa", -1, "[, a]"},                  // occurrences do not overlap
    {"aaab", "aab", -1, "[a, ]"},                // a partial match restarts
    {"ababaa", "abaa", -1, "[ab, ]"},            // a partial match falls back to its longest border
    {"x\r\ny\r\nz", "\r\n", 2, "[x, y\r\nz]"},
};

TEST(StringSplit, CutsAtCharOrSequence) {
  for (const auto &[input, separator, max, expected] : kSplitCases) {
    StringRef s = str(input), sep = str(separator);
    VectorRef pieces(
        kxStringLength(sep.get()) == 1
            ? kxStringSplitChar(s.get(), kxStringCharAt(sep.get(), 0), max)
            : kxStringSplitChars(s.get(), kxStringBacking(sep.get()), kxStringLength(sep.get()), max));
    EXPECT_EQ(textOf(pieces.get()), expected) << input;
  }
}

// {transform, input, output}: only space, tab, CR and LF are trimmed, only ASCII letters lowered.
const std::tuple<KX_STRING *(*)(KX_STRING *), const char *, const char *> kTransformCases[] = {
    {kxStringTrim, "a b", "a b"},
    {kxStringTrim, " \t\r\na b\n\r\t ", "a b"},
    {kxStringTrim, " \t ", ""},
    {kxStringTrim, "\v\fa\f", "\v\fa\f"},
    {kxStringToLower, "text/plain", "text/plain"},
    {kxStringToLower, "Multipart/MIXED", "multipart/mixed"},
    {kxStringToLower, "\xC3\x89T\xC3\x89", "\xC3\x89t\xC3\x89"},
    {kxStringToLower, "@[`{", "@[`{"},
};

TEST(StringTransform, TrimAndLowerLeaveTheArgumentAlone) {
  for (const auto &[transform, input, expected] : kTransformCases) {
    StringRef s = str(input);
    StringRef result(transform(s.get()));
    EXPECT_EQ(utf8Of(result.get()), expected) << input;
    EXPECT_EQ(result.get() == s.get(), std::string(input) == expected)
        << input << ": the same object if unchanged";
    EXPECT_EQ(utf8Of(s.get()), input);
  }
}

TEST(StringAppend, ToItselfAndFromItsOwnBacking) {
  StringRef s = str("xy");
  kxStringAppend(s.addr(), s.get());
  EXPECT_EQ(utf8Of(s.get()), "xyxy");
  for (int i = 0; i < 6; ++i)
    kxStringAppendChars(s.addr(), kxStringBacking(s.get()), kxStringLength(s.get()));
  EXPECT_EQ(kxStringLength(s.get()), 4 * 64);
  EXPECT_EQ(kxStringCharAt(s.get(), 255), 'y');
}

// Short strings hold their code points in the object's own allocation and move them to a block of their
// own when they grow: every length around that limit keeps its text through creation, appends (also of its
// own code points), copy-on-write and lower-casing.
TEST(StringStorage, TextSurvivesGrowingPastTheInObjectRoom) {
  for (kxInt length : {1, 2, 255, 256, 257, 600}) {
    std::vector<kxChar> chars(static_cast<size_t>(length));
    for (kxInt i = 0; i < length; ++i) chars[static_cast<size_t>(i)] = static_cast<kxChar>('A' + i % 26);
    StringRef s(kxStringCreateFromChars(chars.data(), length));
    StringRef shared = StringRef::retained(s.get());
    kxStringAppendChars(s.addr(), kxStringBacking(s.get()), kxStringLength(s.get()));  // copy-on-write
    for (int i = 0; i < 300; ++i) kxStringAppendChar(s.addr(), 'z');
    ASSERT_EQ(kxStringLength(s.get()), 2 * length + 300) << length;
    EXPECT_TRUE(kxStringEqualsChars(shared.get(), chars.data(), length)) << length;
    for (kxInt i = 0; i < 2 * length; ++i)
      ASSERT_EQ(kxStringCharAt(s.get(), i), chars[static_cast<size_t>(i % length)]) << length << " at " << i;
    StringRef lower(kxStringToLower(s.get()));
    EXPECT_EQ(kxStringCharAt(lower.get(), 0), 'a') << length;
  }
}

TEST(StringAppend, GrowsGeometrically) {
  StringRef s(kxStringCreate());
  std::set<const kxChar *> blocks;
  for (kxInt i = 0; i < 100000; ++i) {
    kxStringAppendChar(s.addr(), static_cast<kxChar>('a' + i % 26));
    blocks.insert(kxStringBacking(s.get()));
  }
  EXPECT_EQ(kxStringCharAt(s.get(), 99999), static_cast<kxChar>('a' + 99999 % 26));
  EXPECT_LT(blocks.size(), 40u) << "each append must not reallocate";
}

}  // namespace
