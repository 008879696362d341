// Charsets: names and aliases, round trips of representable text in every charset, exact octets, what
// cannot be represented, strict and lenient decoding, per-thread converter state, hostile octets.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kx_test.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"
#include "support/kx_text.hpp"

using namespace kxtest;
using test_support::DeterministicRandom;
using test_support::exactlyEqual;
using test_support::kxText;

namespace {

constexpr char32_t R = 0xFFFD;

// The octets of text in charset, or "<null>" when it cannot be represented.
std::string encodeIn(kxInt charset, std::u32string_view text) {
  BufferRef b(kxCharsetConvertStringToBuffer(kxText(text).get(), charset));
  return b ? bytesOf(b.get()) : "<null>";
}

// The code points of octets in charset; ok is false when the conversion gave null.
struct Decoded {
  bool ok;
  std::u32string text;
};

Decoded decodeIn(kxInt charset, const std::string &octets, kxInt flags) {
  BufferRef b = buf(octets);
  StringRef s(kxCharsetTryConvertBufferToStringWithFlags(b.get(), charset, flags));
  return s ? Decoded{true, test_support::codePoints(s.get())} : Decoded{false, {}};
}

kxInt fromIana(const std::string &name) {
  StringRef s(kxStringCreateFromCstr(name.data(), static_cast<kxInt>(name.size())));
  return kxCharsetFromIanaName(s.get());
}

// --- names ---

TEST(CharsetNames, EveryCharsetHasDistinctNamesThatLookUpToIt) {
  std::set<std::string> kxNames, ianaNames;
  for (kxInt charset = 0; charset < KX_CHARSET_COUNT; ++charset) {
    StringRef kxName(kxCharsetToString(charset));
    StringRef ianaName(kxCharsetToIanaName(charset));
    EXPECT_EQ(kxCharsetFromString(kxName.get()), charset) << utf8Of(kxName.get());
    EXPECT_EQ(kxCharsetFromIanaName(ianaName.get()), charset) << utf8Of(ianaName.get());
    kxNames.insert(utf8Of(kxName.get()));
    ianaNames.insert(utf8Of(ianaName.get()));
  }
  EXPECT_EQ(kxNames.size(), 51u);
  EXPECT_EQ(ianaNames.size(), 51u);
}

TEST(CharsetNames, FixedNumbers) {
  EXPECT_EQ(textOf(StringRef(kxCharsetToIanaName(0)).get()), "US-ASCII");
  EXPECT_EQ(textOf(StringRef(kxCharsetToIanaName(1)).get()), "ISO-8859-1");
  EXPECT_EQ(textOf(StringRef(kxCharsetToIanaName(44)).get()), "UTF-8");
  EXPECT_EQ(textOf(StringRef(kxCharsetToString(44)).get()), "UTF_8");
  EXPECT_EQ(kxCharsetFromString(str("utf_8").get()), 44) << "kx names are case-insensitive too";
  EXPECT_EQ(kxCharsetFromString(str("UTF-8").get()), -1) << "an IANA name is not a kx name";
}

struct AliasCase {
  const char *name;
  kxInt expected;
};

// clang-format off
const AliasCase kAliasCases[] = {
    {"utf-8", 44}, {"UTF8", 44}, {"utf8", 44}, {"csUTF8", 44}, {"us-ascii", 0}, {"ASCII", 0},
    {"ANSI_X3.4-1968", 0}, {"latin1", 1}, {"ISO_8859-1:1987", 1}, {"l1", 1}, {"iso-8859-15", 13},
    {"Latin-9", 13}, {"cp1252", 17}, {"Windows-1252", 17}, {"windows-1250", 15}, {"x-cp1251", 16},
    {"koi8-r", 24}, {"KOI8-U", 25}, {"utf-16le", 28}, {"UTF-32", 29}, {"x-sjis", 32}, {"Shift_JIS", 32},
    {"SJIS", 32}, {"euc-jp", 33}, {"ISO-2022-JP", 34}, {"GB18030", 35}, {"gbk", 36}, {"CP936", 36},
    {"gb2312", 37}, {"EUC-CN", 37}, {"big5", 38}, {"Big5-HKSCS", 46}, {"euc-kr", 39}, {"ks_c_5601-1987", 39},
    {"cp437", 40}, {"IBM850", 41}, {"macintosh", 42}, {"tis-620", 43}, {"ISO-8859-11", 43},
    {"windows-874", 45}, {"cp932", 47}, {"Windows-31J", 47}, {"iso-2022-kr", 48}, {"utf-7", 49},
    {"cp866", 50}, {"iso-8859-8-i", 8}, {"ISO-8859-16", 14},
};
// clang-format on

TEST(CharsetFromIanaName, KnowsTheUsualAliasesInAnyCase) {
  for (const auto &c : kAliasCases) EXPECT_EQ(fromIana(c.name), c.expected) << c.name;
}

// clang-format off
const std::string kUnknownNames[] = {
    "", "utf-9", "utf-8 ", " utf-8", "UTF_8", "utf--8", "\xC3\xBCtf-8", "iso-8859-12", "latin", "cp65001x",
    "x", std::string("utf-8\0", 6), std::string(200, 'a'),
};
// clang-format on

TEST(CharsetFromIanaName, UnknownNamesGiveMinusOne) {
  for (const auto &name : kUnknownNames) EXPECT_EQ(fromIana(name), -1) << name;
  EXPECT_EQ(kxCharsetFromString(str("NO_SUCH").get()), -1);
}

// --- round trips ---

const char32_t kAsciiPart[] =
    U"Hello, World 0123 !?";  // no backslash or tilde: Shift_JIS maps them elsewhere

struct RoundTripCase {
  kxInt charset;
  std::u32string text;  // representable in the charset
};

const std::u32string kUnicodeText = U"A é € 😀 \U0010FFFF 中 한 Ж";

const RoundTripCase kRoundTripCases[] = {
    {0, U"~\\{}|"},
    {1, U"Grüße, café ÿ ¡¿ ×÷"},
    {2, U"Zażółć gęślą jaźń"},
    {3, U"Ħ ħ ĉ ĝ ĵ ŝ ŭ"},
    {4, U"Ā ā Ē ē Ķ ķ Ļ ŗ"},
    {5, U"Привет мир"},
    {6, U"مرحبا"},
    {7, U"Καλημέρα"},
    {8, U"שלום"},
    {9, U"Günaydın ğ ş İ"},
    {10, U"Ŋ ŋ Ū ū ð þ"},
    {11, U"Ąžuolas ų ė ž"},
    {12, U"Ŵ ŵ Ŷ ŷ ẁ ẃ"},
    {13, U"€ œ Œ Ÿ š ž"},
    {14, U"Ș ș Ț ț € ă"},
    {15, U"Příliš žluťoučký kůň €"},
    {16, U"Привет € №"},
    {17, U"€ “quotes” – ‘x’ ™ é"},
    {18, U"Καλημέρα €"},
    {19, U"Günaydın ğ ş İ €"},
    {20, U"שלום ₪"},
    {21, U"مرحبا €"},
    {22, U"Ąžuolas €"},
    {23, U"Đ ơ ư ₫ € Việt Nam"},
    {24, U"Привет мир"},
    {25, U"Привіт Україно ї є ґ"},
    {26, kUnicodeText},
    {27, kUnicodeText},
    {28, kUnicodeText},
    {29, kUnicodeText},
    {30, kUnicodeText},
    {31, kUnicodeText},
    {32, U"こんにちは 日本語 ｶﾀｶﾅ"},
    {33, U"こんにちは 日本語"},
    {34, U"こんにちは 日本語 ABC"},
    {35, U"你好，世界 😀"},
    {36, U"你好，世界"},
    {37, U"你好，世界"},
    {38, U"你好，世界"},
    {39, U"안녕하세요"},
    {40, U"Café ½ ░▒▓ ╔═╗"},
    {41, U"Café ½ ░▒▓ ╔═╗ Ø"},
    {42, U"Café ∑ π ≈ ◊"},
    {43, U"สวัสดี"},
    {44, kUnicodeText},
    {45, U"สวัสดี €"},
    {46, U"你好，世界"},
    {47, U"こんにちは ①②"},
    {48, U"안녕하세요"},
    {49, U"A é € 😀 中 +-"},
    {50, U"Привет ░"},
};

TEST(CharsetConvert, RepresentableTextRoundTripsInEveryCharset) {
  static_assert(std::size(kRoundTripCases) == KX_CHARSET_COUNT);
  for (const auto &c : kRoundTripCases) {
    for (const std::u32string &text : {std::u32string(kAsciiPart), std::u32string(kAsciiPart) + c.text}) {
      BufferRef octets(kxCharsetConvertStringToBuffer(kxText(text).get(), c.charset));
      ASSERT_TRUE(octets) << "charset " << c.charset;
      StringRef back(
          kxCharsetTryConvertBufferToStringWithFlags(octets.get(), c.charset, KX_CHARSET_FLAG_STRICT));
      ASSERT_TRUE(back) << "charset " << c.charset;
      EXPECT_TRUE(exactlyEqual(test_support::codePoints(back.get()), text)) << "charset " << c.charset;
    }
    BufferRef empty(kxCharsetConvertStringToBuffer(kxText(U"").get(), c.charset));
    ASSERT_TRUE(empty) << "charset " << c.charset;
    EXPECT_EQ(kxStringLength(StringRef(kxCharsetConvertBufferToString(empty.get(), c.charset)).get()), 0);
  }
}

struct OctetsCase {
  const char *label;
  kxInt charset;
  std::u32string text;
  std::string octets;
};

const OctetsCase kOctetsCases[] = {
    {"ascii", 0, U"abc", "abc"},
    {"latin-1 top", 1, U"\u00FF\u0080", "\xFF\x80"},
    {"utf-8 limits", 44, U"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF",
     "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {"utf-8 nul", 44, std::u32string(1, U'\0'), std::string(1, '\0')},
    {"euro in windows-1252", 17, U"€", "\x80"},
    {"euro in latin-9", 13, U"€", "\xA4"},
    {"utf-16be pair", 27, U"A😀", std::string("\x00\x41\xD8\x3D\xDE\x00", 6)},
    {"utf-16le pair", 28, U"A😀", std::string("\x41\x00\x3D\xD8\x00\xDE", 6)},
    {"utf-32be", 30, U"😀", std::string("\x00\x01\xF6\x00", 4)},
    {"utf-16: mark, then big-endian", 26, U"A", std::string("\xFE\xFF\x00\x41", 4)},
    {"utf-32: mark, then big-endian", 29, U"A", std::string("\x00\x00\xFE\xFF\x00\x00\x00\x41", 8)},
    {"shift_jis", 32, U"あ", "\x82\xA0"},
    {"euc-jp", 33, U"あ", "\xA4\xA2"},
    {"iso-2022-jp returns to ASCII", 34, U"あ", "\x1B$B$\"\x1B(B"},
    {"gb2312", 37, U"中", "\xD6\xD0"},
    {"big5", 38, U"中", "\xA4\xA4"},
    {"euc-kr", 39, U"한", "\xC7\xD1"},
    {"koi8-r", 24, U"я", "\xD1"},
};

TEST(CharsetConvertStringToBuffer, WritesTheExactOctets) {
  for (const auto &c : kOctetsCases) {
    EXPECT_TRUE(exactlyEqual(encodeIn(c.charset, c.text), c.octets)) << c.label;
    Decoded back = decodeIn(c.charset, c.octets, KX_CHARSET_FLAG_STRICT);
    EXPECT_TRUE(back.ok && back.text == c.text) << c.label;
  }
}

struct UnrepresentableCase {
  const char *label;
  kxInt charset;
  std::u32string text;
};

const UnrepresentableCase kUnrepresentableCases[] = {
    {"ascii above 127", 0, U"ab\u0080"},
    {"ascii: late in a long text", 0, std::u32string(10000, U'a') + U"é"},
    {"latin-1 euro", 1, U"€"},
    {"latin-1 above 255", 1, U"\u0100"},
    {"utf-8 high surrogate", 44, std::u32string{U'a', char32_t(0xD800)}},
    {"utf-8 low surrogate", 44, std::u32string{char32_t(0xDFFF)}},
    {"utf-8 above U+10FFFF", 44, std::u32string{char32_t(0x110000)}},
    {"utf-8 all ones", 44, std::u32string{char32_t(0xFFFFFFFF)}},
    {"utf-16 lone surrogate", 26, std::u32string{char32_t(0xDC00)}},
    {"utf-32le lone surrogate", 31, std::u32string{char32_t(0xD800)}},
    {"utf-7 lone surrogate", 49, std::u32string{char32_t(0xD800)}},
    {"gb18030 lone surrogate", 35, std::u32string{char32_t(0xD800)}},
    {"koi8-r latin letter", 24, U"é"},
    {"shift_jis hangul", 32, U"한"},
    {"gb2312 hangul", 37, U"한"},
    {"windows-1252 undefined 0x81", 17, U"\u0081"},
    {"iso-2022-jp emoji", 34, U"😀"},
};

TEST(CharsetConvertStringToBuffer, GivesNullForTextTheCharsetCannotHold) {
  for (const auto &c : kUnrepresentableCases) EXPECT_EQ(encodeIn(c.charset, c.text), "<null>") << c.label;
}

// --- decoding: strict and lenient ---

struct DecodeCase {
  const char *label;
  kxInt charset;
  std::string octets;
  std::u32string lenient;
  bool validStrictly;
};

const DecodeCase kDecodeCases[] = {
    {"ascii", 0, "plain text", U"plain text", true},
    {"ascii high octet",
     0,
     "a\x80"
     "b",
     {U'a', R, U'b'},
     false},
    {"ascii high octet after a long run", 0, "0123456789abcdef\xFF", U"0123456789abcdef\uFFFD", false},
    {"latin-1 takes every octet", 1, "\x00\x7F\x80\xFF", U"\u0000\u007F\u0080\u00FF", true},
    {"utf-8 valid mix", 44, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", U"aé€😀", true},
    {"utf-8 encoded U+FFFD is valid", 44, "\xEF\xBF\xBD", U"\uFFFD", true},
    {"utf-8 overlong slash", 44, "\xC0\xAF", {R, R}, false},
    {"utf-8 overlong three octets", 44, "\xE0\x80\xAF", {R, R, R}, false},
    {"utf-8 surrogate", 44, "\xED\xA0\x80", {R, R, R}, false},
    {"utf-8 above U+10FFFF", 44, "\xF4\x90\x80\x80", {R, R, R, R}, false},
    {"utf-8 truncated, then ASCII",
     44,
     "\xE2\x82"
     "A",
     {R, U'A'},
     false},
    {"utf-8 truncated at the end", 44, "abc\xF0\x9F\x98", {U'a', U'b', U'c', R}, false},
    {"utf-8 stray continuation in a long run", 44,
     "0123456789\x80"
     "abcdefgh",
     U"0123456789\uFFFDabcdefgh", false},
    {"utf-8 F5 and FF", 44, "\xF5\xFF", {R, R}, false},
    {"shift_jis lead at the end", 32, "A\x82", {U'A', R}, false},
    {"shift_jis bad trail",
     32,
     "\x82\x20"
     "A",
     {R, U' ', U'A'},
     false},
    {"utf-16le odd length", 28, std::string("A\0B", 3), {U'A', R}, false},
    {"utf-16be lone surrogate skips one unit", 27, std::string("\xD8\x00\x00\x41", 4), {R, U'A'}, false},
    {"utf-32le above U+10FFFF", 31, std::string("\x00\x00\x11\x00\x41\x00\x00\x00", 8), {R, U'A'}, false},
    {"utf-16 big-endian mark", 26, std::string("\xFE\xFF\x00\x41", 4), U"A", true},
    {"utf-16 little-endian mark", 26, std::string("\xFF\xFE\x41\x00", 4), U"A", true},
    {"utf-16 without mark reads big-endian", 26, std::string("\x00\x41", 2), U"A", true},
    {"utf-16 second mark is a character", 26, std::string("\xFF\xFE\xFF\xFE", 4), U"\uFEFF", true},
    {"utf-32 little-endian mark", 29, std::string("\xFF\xFE\x00\x00\x41\x00\x00\x00", 8), U"A", true},
    {"utf-32 without mark reads big-endian", 29, std::string("\x00\x00\x00\x41", 4), U"A", true},
    {"utf-16 mark alone", 26, std::string("\xFE\xFF", 2), U"", true},
    {"euc-kr truncated", 39, "\xC7", {R}, false},
    {"windows-1258 letter held back for a combining mark", 23, "Ha", U"Ha", true},
    {"windows-1258 letter and combining mark composed", 23, "a\xEC", U"\u00E1", true},
};

TEST(CharsetTryConvertBufferToString, StrictRefusesWhatLenientReplaces) {
  for (const auto &c : kDecodeCases) {
    Decoded lenient = decodeIn(c.charset, c.octets, 0);
    ASSERT_TRUE(lenient.ok) << c.label;
    EXPECT_TRUE(exactlyEqual(lenient.text, c.lenient)) << c.label;
    Decoded strict = decodeIn(c.charset, c.octets, KX_CHARSET_FLAG_STRICT);
    EXPECT_EQ(strict.ok, c.validStrictly) << c.label;
    if (strict.ok) {
      EXPECT_EQ(strict.text, c.lenient) << c.label;
    }
  }
}

TEST(CharsetTryConvertBufferToString, LatinOneAndUtf8AgreeWithTheStringCodec) {
  std::string all;
  for (int octet = 0; octet < 256; ++octet) all += static_cast<char>(octet);
  Decoded latin1 = decodeIn(1, all, KX_CHARSET_FLAG_STRICT);
  ASSERT_TRUE(latin1.ok);
  for (int octet = 0; octet < 256; ++octet)
    EXPECT_EQ(latin1.text[static_cast<size_t>(octet)], char32_t(octet));
  // Any scalar values: our UTF-8 writer and the string's must agree octet for octet, and read back.
  DeterministicRandom random(44);
  for (int round = 0; round < 200; ++round) {
    std::u32string text;
    for (int n = static_cast<int>(random.range(0, 40)); n > 0; --n) {
      char32_t c = static_cast<char32_t>(random.range(0, random.chance(50) ? 0x7F : 0x10FFFF));
      if (c >= 0xD800 && c <= 0xDFFF) c = U'x';
      text += c;
    }
    const std::string octets = encodeIn(44, text);
    EXPECT_TRUE(exactlyEqual(octets, utf8Of(kxText(text).get()))) << "round " << round;
    EXPECT_EQ(decodeIn(44, octets, KX_CHARSET_FLAG_STRICT).text, text) << "round " << round;
  }
}

TEST(CharsetTryConvertBufferToString, LongCjkUtf8KeepsEveryCharacter) {
  std::string octets;
  for (int i = 0; i < 10000; ++i) octets += "\xE4\xB8\xAD";  // 中
  Decoded decoded = decodeIn(44, octets, KX_CHARSET_FLAG_STRICT);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.text, std::u32string(10000, U'中'));
}

// Whatever the octets, lenient decoding gives scalar values only, and strict decoding gives either null
// or the same text, which converts back to octets that read as that text again.
TEST(CharsetTryConvertBufferToString, HostileOctetsInEveryCharset) {
  DeterministicRandom random(7);
  for (kxInt charset = 0; charset < KX_CHARSET_COUNT; ++charset) {
    for (int round = 0; round < 200; ++round) {
      std::string octets;
      for (int n = static_cast<int>(random.range(0, 48)); n > 0; --n) {
        static const char kSpecial[] = {'\x1B', '$', '(', '+', '-', '\x0E', '\x0F', '\x00', '\xFE', '\xFF'};
        octets += random.chance(30) ? random.pick(kSpecial) : static_cast<char>(random.next());
      }
      Decoded lenient = decodeIn(charset, octets, 0);
      ASSERT_TRUE(lenient.ok) << "charset " << charset;
      for (char32_t c : lenient.text) {
        ASSERT_TRUE(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF))
            << "charset " << charset << " gave " << static_cast<uint32_t>(c);
      }
      Decoded strict = decodeIn(charset, octets, KX_CHARSET_FLAG_STRICT);
      if (!strict.ok) continue;
      EXPECT_EQ(strict.text, lenient.text) << "charset " << charset;
      const std::string back = encodeIn(charset, strict.text);  // valid text converts back to the same text
      if (back != "<null>") {
        EXPECT_EQ(decodeIn(charset, back, KX_CHARSET_FLAG_STRICT).text, strict.text) << "charset " << charset;
      }
    }
  }
}

// --- converter state ---

TEST(CharsetConverters, EachCallStartsInTheInitialState) {
  // A byte-order mark read by one call must not decide the byte order of the next.
  EXPECT_EQ(decodeIn(26, std::string("\xFF\xFE\x41\x00", 4), 1).text, U"A");
  EXPECT_EQ(decodeIn(26, std::string("\x00\x42", 2), 1).text, U"B");
  // A shift into JIS X 0208 left open by one call must not carry into the next.
  EXPECT_EQ(decodeIn(34, "\x1B$B$\"", 0).text, U"あ");
  EXPECT_EQ(decodeIn(34, "AB", 1).text, U"AB");
  // An encoder flushes its shift state: the octets of one call never depend on the call before.
  EXPECT_EQ(encodeIn(34, U"あ"), encodeIn(34, U"あ"));
  EXPECT_EQ(encodeIn(26, U"A"), encodeIn(26, U"A")) << "every UTF-16 text carries its own mark";
}

TEST(CharsetConverters, ThreadsConvertIndependently) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      const kxInt charsets[] = {32, 34, 26, 49};
      const std::u32string text = std::u32string(U"スレッド ").append(1, char32_t(U'0' + t));
      for (int i = 0; i < 300; ++i) {
        const kxInt charset = charsets[(t + i) % 4];
        BufferRef octets(kxCharsetConvertStringToBuffer(kxText(text).get(), charset));
        StringRef back(octets ? kxCharsetTryConvertBufferToStringWithFlags(octets.get(), charset, 1)
                              : nullptr);
        if (!back || test_support::codePoints(back.get()) != text) ++failures[static_cast<size_t>(t)];
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(CharsetDeathTest, BrokenPreconditionsAbort) {
  StringRef s = str("x");
  BufferRef b = buf("x");
  EXPECT_DEATH(kxCharsetToString(51), "KX_CHARSET_OK\\(charset\\)");
  EXPECT_DEATH(kxCharsetToIanaName(-1), "KX_CHARSET_OK\\(charset\\)");
  EXPECT_DEATH(kxCharsetConvertStringToBuffer(s.get(), 51), "KX_CHARSET_OK\\(charset\\)");
  EXPECT_DEATH(kxCharsetConvertBufferToString(b.get(), KX_INT_MIN), "KX_CHARSET_OK\\(charset\\)");
  EXPECT_DEATH(kxCharsetTryConvertBufferToStringWithFlags(b.get(), 44, 2),
               "\\(flags & ~KX_CHARSET_FLAG_STRICT\\) == 0");
  EXPECT_DEATH(kxCharsetConvertStringToBuffer(nullptr, 44), abortLine("kx_charset\\.cpp", "s"));
}

}  // namespace
