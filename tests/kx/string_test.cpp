// Strings: UTF-8 in and out, wide strings, comparisons, split, trim, lower-casing, copy-on-write appends.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

constexpr kxChar R = 0xFFFD;

struct DecodeCase {
  const char *label;
  std::string octets;
  std::vector<kxChar> expected;
};

// Every ill-formed sequence becomes U+FFFD for its longest valid prefix; reading resumes at the next octet.
const DecodeCase kDecodeCases[] = {
    {"ascii", "Az~", {'A', 'z', '~'}},
    {"two octets", "\xC3\xA9", {0xE9}},
    {"three octets", "\xE2\x82\xAC", {0x20AC}},
    {"four octets", "\xF0\x9F\x98\x80", {0x1F600}},
    {"largest code point", "\xF4\x8F\xBF\xBF", {0x10FFFF}},
    {"nul kept with explicit length", std::string("a\0b", 3), {'a', 0, 'b'}},
    {"overlong two-octet NUL", "\xC0\x80", {R, R}},
    {"overlong slash", "\xC1\xAF", {R, R}},
    {"overlong three octets", "\xE0\x80\xAF", {R, R, R}},
    {"overlong four octets", "\xF0\x80\x80\xAF", {R, R, R, R}},
    {"high surrogate", "\xED\xA0\x80", {R, R, R}},
    {"low surrogate", "\xED\xBF\xBF", {R, R, R}},
    {"last before surrogates", "\xED\x9F\xBF", {0xD7FF}},
    {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
    {"F5 lead", "\xF5\x80", {R, R}},
    {"FF octet",
     "a\xFF"
     "b",
     {'a', R, 'b'}},
    {"stray continuation",
     "\x80"
     "a",
     {R, 'a'}},
    {"truncated at end", "a\xE2\x82", {'a', R}},
    {"truncated before ascii",
     "\xE2\x82"
     "A",
     {R, 'A'}},
    {"truncated four-octet", "\xF0\x9F\x98", {R}},
    {"lead then lead", "\xC3\xC3\xA9", {R, 0xE9}},
};

TEST(StringCreateFromCstr, DecodesUtf8ReplacingIllFormedSequences) {
  for (const auto &c : kDecodeCases) {
    StringRef s(kxStringCreateFromCstr(c.octets.data(), static_cast<kxInt>(c.octets.size())));
    EXPECT_EQ(charsOf(s.get()), c.expected) << c.label;
    EXPECT_EQ(kxStringEqualsCstr(s.get(), c.octets.data(), static_cast<kxInt>(c.octets.size())), 1)
        << c.label;
  }
}

TEST(StringCreateFromCstr, MinusOneReadsUpToTheNul) {
  StringRef s(kxStringCreateFromCstr("ab\0cd", -1));
  EXPECT_EQ(charsOf(s.get()), (std::vector<kxChar>{'a', 'b'}));
  StringRef empty(kxStringCreateFromCstr(nullptr, 0));
  EXPECT_EQ(kxStringLength(empty.get()), 0);
}

struct EncodeCase {
  const char *label;
  std::vector<kxChar> chars;
  std::string expected;
};

const EncodeCase kEncodeCases[] = {
    {"empty", {}, ""},
    {"nul", {0}, std::string("\0", 1)},
    {"boundaries",
     {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF},
     "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {"lone surrogates", {0xD800, 'x', 0xDFFF}, "\xEF\xBF\xBDx\xEF\xBF\xBD"},
    {"above U+10FFFF", {0x110000, 0xFFFFFFFF}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
};

TEST(StringConvertToCstr, WritesUtf8WithReplacementForUnencodable) {
  for (const auto &c : kEncodeCases) {
    StringRef s(kxStringCreateFromChars(c.chars.data(), static_cast<kxInt>(c.chars.size())));
    kxInt length = -1;
    char *text = kxStringConvertToCstr(s.get(), &length);
    EXPECT_EQ(std::string(text, static_cast<size_t>(length)), c.expected) << c.label;
    EXPECT_EQ(text[length], '\0') << c.label;
    kxMemFree(text);
  }
}

TEST(StringCreateFromWcstr, ReplacesSurrogatesAndOutOfRange) {
  const wchar_t wide[] = {L'a',
                          static_cast<wchar_t>(0xD800),
                          static_cast<wchar_t>(0x110000),
                          static_cast<wchar_t>(-1),
                          static_cast<wchar_t>(0x10FFFF),
                          0};
  StringRef s(kxStringCreateFromWcstr(wide, -1));
  EXPECT_EQ(charsOf(s.get()), (std::vector<kxChar>{'a', R, R, R, 0x10FFFF}));
}

struct CompareCase {
  const char *label;
  std::vector<kxChar> a, b;
  kxInt expected;
};

const CompareCase kCompareCases[] = {
    {"equal", {'a', 'b'}, {'a', 'b'}, 0},
    {"prefix first", {'a'}, {'a', 'b'}, -1},
    {"empty first", {}, {'a'}, -1},
    {"code point order, not UTF-16 order", {0x1F600}, {0xFFFD}, 1},
    {"unsigned values", {0x80000000}, {1}, 1},
};

TEST(StringCompare, OrdersByCodePointsThenLength) {
  for (const auto &c : kCompareCases) {
    StringRef a(kxStringCreateFromChars(c.a.data(), static_cast<kxInt>(c.a.size())));
    StringRef b(kxStringCreateFromChars(c.b.data(), static_cast<kxInt>(c.b.size())));
    EXPECT_EQ(kxObjCompare(kxStringObj(a.get()), kxStringObj(b.get())), c.expected) << c.label;
    EXPECT_EQ(kxObjCompare(kxStringObj(b.get()), kxStringObj(a.get())), -c.expected) << c.label;
    EXPECT_EQ(kxStringEquals(a.get(), b.get()), c.expected == 0 ? 1 : 0) << c.label;
  }
}

TEST(StringToString, IsTheStringItself) {
  StringRef s = str("x");
  StringRef text(kxObjToString(kxStringObj(s.get())));
  EXPECT_EQ(text.get(), s.get());
  EXPECT_EQ(refsOf(s.get()), 2);
}

struct EqualsCase {
  const char *label;
  const char *s;
  const char *cstr;
  kxBool exact, caseFold;
};

const EqualsCase kEqualsCases[] = {
    {"same", "base64", "base64", 1, 1},
    {"case differs", "Base64", "bASE64", 0, 1},
    {"shorter", "base6", "base64", 0, 0},
    {"longer", "base64x", "base64", 0, 0},
    {"non-ASCII not folded", "\xC3\x89", "\xC3\xA9", 0, 0},
    {"empty", "", "", 1, 1},
    {"letter vs bracket (A-Z vs [)", "[", "{", 0, 0},
};

TEST(StringEqualsCstr, ExactAndAsciiCaseInsensitive) {
  for (const auto &c : kEqualsCases) {
    StringRef s = str(c.s);
    EXPECT_EQ(kxStringEqualsCstr(s.get(), c.cstr, -1), c.exact) << c.label;
    EXPECT_EQ(kxStringEqualsCaseFoldCstr(s.get(), c.cstr, -1), c.caseFold) << c.label;
  }
  StringRef s = str("ab");
  const kxChar ab[] = {'a', 'b'};
  EXPECT_EQ(kxStringEqualsChars(s.get(), ab, 2), 1);
  EXPECT_EQ(kxStringEqualsChars(s.get(), ab, 1), 0);
}

TEST(StringFindChar, FromStart) {
  StringRef s = str("a/b/c");
  EXPECT_EQ(kxStringFindChar(s.get(), '/', 0), 1);
  EXPECT_EQ(kxStringFindChar(s.get(), '/', 2), 3);
  EXPECT_EQ(kxStringFindChar(s.get(), '/', 4), -1);
  EXPECT_EQ(kxStringFindChar(s.get(), '/', 5), -1);
}

struct SplitCase {
  const char *label;
  const char *input;
  const char *separator;
  kxInt max;
  const char *expected;  // pieces joined with '|'
};

const SplitCase kSplitCases[] = {
    {"no limit", "a/b/c", "/", -1, "a|b|c"},
    {"limit keeps the rest", "a'b'c'd", "'", 3, "a|b|c'd"},
    {"limit one is the whole", "a/b", "/", 1, "a/b"},
    {"empty input", "", "/", -1, ""},
    {"separator only", "/", "/", -1, "|"},
    {"adjacent separators", "a//b", "/", -1, "a||b"},
    {"CR LF lines", "a: 1\r\nb: 2\r\n", "\r\n", -1, "a: 1|b: 2|"},
    {"bare CR is no separator", "a\rb\r\r\nc", "\r\n", -1, "a\rb\r|c"},
    {"non-overlapping occurrences", "aaa", "aa", -1, "|a"},
    {"partial match restarts (KMP)", "aaab", "aab", -1, "a|"},
    {"limit with sequence", "x\r\ny\r\nz", "\r\n", 2, "x|y\r\nz"},
};

TEST(StringSplit, CutsAtCharOrSequence) {
  for (const auto &c : kSplitCases) {
    StringRef s = str(c.input);
    StringRef separator = str(c.separator);
    VectorRef pieces(kxStringLength(separator.get()) == 1
                         ? kxStringSplitChar(s.get(), kxStringCharAt(separator.get(), 0), c.max)
                         : kxStringSplitChars(s.get(), kxStringBacking(separator.get()),
                                              kxStringLength(separator.get()), c.max));
    EXPECT_EQ(joinStrings(pieces.get()), c.expected) << c.label;
    EXPECT_EQ(kxVectorContainsOnly(pieces.get(), kxStringSort()), 1) << c.label;
  }
}

struct TransformCase {
  const char *label;
  const char *input;
  const char *expected;
};

const TransformCase kTrimCases[] = {
    {"nothing to trim", "a b", "a b"},
    {"both ends", " \t\r\na b\n\r\t ", "a b"},
    {"only white space", " \t ", ""},
    {"empty", "", ""},
    {"other controls stay", "\v\fa\f", "\v\fa\f"},
};

const TransformCase kLowerCases[] = {
    {"already lower", "text/plain", "text/plain"},
    {"mixed", "Multipart/MIXED", "multipart/mixed"},
    {"non-ASCII untouched", "\xC3\x89T\xC3\x89", "\xC3\x89t\xC3\x89"},
    {"neighbours of the letters", "@[`{", "@[`{"},
};

TEST(StringTrim, RemovesSpaceTabCrLfAtBothEnds) {
  for (const auto &c : kTrimCases) {
    StringRef s = str(c.input);
    StringRef trimmed(kxStringTrim(s.get()));
    EXPECT_EQ(utf8Of(trimmed.get()), c.expected) << c.label;
    if (std::strcmp(c.input, c.expected) == 0) {
      EXPECT_EQ(trimmed.get(), s.get()) << c.label << ": nothing removed, the same object";
    }
  }
}

TEST(StringToLower, LowersAsciiLettersOnly) {
  for (const auto &c : kLowerCases) {
    StringRef s = str(c.input);
    StringRef lower(kxStringToLower(s.get()));
    EXPECT_EQ(utf8Of(lower.get()), c.expected) << c.label;
    EXPECT_EQ(lower.get() == s.get(), std::strcmp(c.input, c.expected) == 0) << c.label;
    EXPECT_EQ(utf8Of(s.get()), c.input) << c.label << ": the argument is unchanged";
  }
}

// --- copy-on-write ---

TEST(StringAppend, SharedStringIsCopiedFirst) {
  StringRef original = str("ab");
  StringRef other = StringRef::retained(original.get());
  KX_STRING *mine = original.release();
  kxStringAppendCstr(&mine, "c\xC3\xA9", -1);
  StringRef owner(mine);
  EXPECT_NE(mine, other.get());
  EXPECT_EQ(utf8Of(other.get()), "ab");
  EXPECT_EQ(utf8Of(mine), "abc\xC3\xA9");
  EXPECT_EQ(refsOf(other.get()), 1);
}

TEST(StringAppend, UnsharedStringChangesInPlace) {
  StringRef s = str("a");
  KX_STRING *before = s.get();
  kxStringAppendChar(s.addr(), 'b');
  StringRef tail = str("cd");
  kxStringAppend(s.addr(), tail.get());
  const kxChar ef[] = {'e', 'f'};
  kxStringAppendChars(s.addr(), ef, 2);
  kxStringAppendFormatCstr(s.addr(), "%i", kxInt{7});
  EXPECT_EQ(s.get(), before);
  EXPECT_EQ(utf8Of(s.get()), "abcdef7");
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

TEST(StringAppend, GrowsGeometrically) {
  StringRef s(kxStringCreate());
  std::set<const kxChar *> blocks;
  for (kxInt i = 0; i < 100000; ++i) {
    kxStringAppendChar(s.addr(), static_cast<kxChar>('a' + i % 26));
    blocks.insert(kxStringBacking(s.get()));
  }
  EXPECT_EQ(kxStringLength(s.get()), 100000);
  EXPECT_EQ(kxStringCharAt(s.get(), 99999), static_cast<kxChar>('a' + 99999 % 26));
  EXPECT_LT(blocks.size(), 40u) << "each append must not reallocate";
}

// --- contract violations ---

TEST(StringDeathTest, NullArgumentsAbort) {
  EXPECT_DEATH(kxStringLength(nullptr), abortLine("kx_string\\.cpp", "s"));
  EXPECT_DEATH(kxStringCreateFromCstr(nullptr, -1), abortLine("kx_string\\.cpp", "cstr \\|\\| length == 0"));
  EXPECT_DEATH(kxStringAppendChar(nullptr, 'a'), abortLine("kx_string\\.cpp", "s"));
  KX_STRING *none = nullptr;
  EXPECT_DEATH(kxStringAppendChar(&none, 'a'), abortLine("kx_string\\.cpp", "\\*s"));
  EXPECT_DEATH(kxStringTrim(nullptr), abortLine("kx_string\\.cpp", "s"));
}

TEST(StringDeathTest, OutOfRangeAborts) {
  StringRef s = str("ab");
  EXPECT_DEATH(kxStringCharAt(s.get(), 2), "index >= 0 && index < s->length");
  EXPECT_DEATH(kxStringCreateFromInner(s.get(), 1, 2), "start <= s->length - length");
  EXPECT_DEATH(kxStringSplitChar(s.get(), 'a', 0), abortLine("kx_string\\.cpp", "max != 0"));
  EXPECT_DEATH(kxStringFrom(reinterpret_cast<KX_OBJ *>(kxStringSort())),
               "kxObjSort\\(obj\\) == &kx___sort_KX_STRING");
}

}  // namespace
