// The Content-Type header codec: what it reads, what it writes, the CR/LF rule and round trips under random
// options. The time on inputs large enough for quadratic work to show is in bench/.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

constexpr kxInt kParse = MIME_FLAG_PARSE_RFC2231_HEADERS;
constexpr kxInt kGenerate = MIME_FLAG_GENERATE_RFC2231_HEADERS;
constexpr kxInt kUnicode = MIME_FLAG_GENERATE_UNICODE_HEADERS;

// Every decode is made twice, from a string and from the UTF-8 octets, which must read alike (ill-formed
// UTF-8 as U+FFFD in both).
std::string decode(const std::string &text, kxInt flags = kParse) {
  TypeRef type(mimeContentTypeTryDecode(str(text).get(), options(flags).get()));
  TypeRef fromOctets(
      mimeContentTypeTryDecodeCstr(text.data(), static_cast<kxInt>(text.size()), options(flags).get()));
  const std::string result = type ? form(type.get()) : "<null>";
  EXPECT_EQ(fromOctets ? form(fromOctets.get()) : "<null>", result) << text;
  return result;
}

std::string encode(MIME_CONTENT_TYPE *type, MIME_OPTIONS *mo, kxInt offset = 14) {
  return utf8Of(StringRef(mimeContentTypeEncode(type, mo, offset)).get());
}

// --- decoding ---

TEST(ContentTypeDecode, ReadsMediaTypeAndParameters) {
  const std::tuple<const char *, const char *, kxInt, const char *> rows[] = {
      // label, text, flags, expected
      {"comments, quotes, spaces", "(c) \"TEXT\" / Plain (d)", kParse, "text/plain"},
      {"folded value", "text/plain;\r\n charset=utf-8", kParse, "text/plain;charset=utf-8"},
      {"type only", "text", kParse, "<null>"},
      {"no subtype", "text/", kParse, "<null>"},
      {"comment as subtype", "text/(plain)", kParse, "<null>"},
      {"empty", "", kParse, "<null>"},
      {"quoted value keeps its case", "text/plain; Charset=\"UTF-8\"", kParse, "text/plain;charset=UTF-8"},
      {"key without equals sign", "text/plain; charset", kParse, "text/plain;charset="},
      {"empty value, then another", "text/plain; a=;b=c", kParse, "text/plain;a=;b=c"},
      {"separator alone", "text/plain;", kParse, "text/plain"},
      {"later key replaces earlier", "text/plain; a=1; A=2", kParse, "text/plain;a=2"},
      {"domain literal value ends the list", "text/plain; a=[x]; b=2", kParse, "text/plain;a="},
      {"extra slash ends reading", "text/plain/x", kParse, "text/plain"},
      {"word after a key ends reading", "text/plain; a b=c", kParse, "text/plain;a="},
      {"unacceptable keys are skipped", "text/plain; \"a b\"=1; \xC3\xA4=1; c=2", kParse, "text/plain;c=2"},
      {"comments anywhere", "text/plain; (c) a (d) = (e) 1 (f)", kParse, "text/plain;a=1"},
      {"escapes in a quoted value", "text/plain; a=\"x\\\"y\\\\\"", kParse, "text/plain;a=x\"y\\"},
      {"sections joined", "application/x; TITLE*0=\"ab\"; Title*1=cd", kParse, "application/x;title=abcd"},
      {"sections kept without the flag", "application/x; t*0=ab; t*1=cd", 0, "application/x;t*0=ab;t*1=cd"},
      {"no attribute, under the flag", "text/plain; a*b=1; c=2", kParse, "text/plain;c=2"},
      {"typical", "multipart/mixed; boundary=\"=_P.1\"; title*0*=UTF-8''%E2%82%AC%20a; title*1*=%20b; f=x",
       kParse, "multipart/mixed;boundary==_P.1;f=x;title=\xE2\x82\xAC a b"},
      {"sections in any order", "a/b; t*2=c; t*1*=%41; t*0*=UTF-8''a", kParse, "a/b;t=aAc"},
      {"a quoted string whose last quote is escaped", "a/b; t=\"x\\\"", kParse, "<null>"},
      {"a comment whose last parenthesis is escaped", "a/b (x\\)", kParse, "<null>"},
      {"unclosed domain literal", "a/b; t=[x", kParse, "<null>"},
      {"domain literal ending in a backslash", "a/b; t=[x\\", kParse, "<null>"},
      {"escaped backslashes close the string", "a/b; t=\"\\\\\\\\\"", kParse, "a/b;t=\\\\"},
      {"a backslash last at the top level", "a/b; t=v\\", kParse, "a/b;t=v"},
      {"a backslash alone after the type", "a/b\\", kParse, "a/b"},
      {"ill-formed UTF-8 in a quoted value", "text/plain; a=\"\xE2\x82x\xFF\"", kParse,
       "text/plain;a=\xEF\xBF\xBDx\xEF\xBF\xBD"},
  };
  for (const auto &[label, text, flags, expected] : rows) EXPECT_EQ(decode(text, flags), expected) << label;
  // Values longer than a header line usually is, and one given up to its NUL.
  const std::string longName = std::string(300, 'n') + "\xC3\xA9";
  EXPECT_EQ(decode("text/plain; name=\"" + longName + "\""), "text/plain;name=" + longName);
  EXPECT_EQ(form(TypeRef(mimeContentTypeTryDecodeCstr("TEXT/Plain; a=1", -1, options(kParse).get())).get()),
            "text/plain;a=1");
}

// --- encoding ---

TEST(ContentTypeEncode, WritesTypeAndParameters) {
  const std::string x30(30, 'x'), x100(100, 'x'), e = "\xC3\xA9";
  const std::tuple<const char *, Params, kxInt, kxInt, kxInt, std::string> rows[] = {
      // label, parameters of "Text/Plain", flags, fold length, offset, expected
      {"bare type", {}, 3, 76, 14, "text/plain"},
      {"empty value is quoted", {{"a", ""}, {"b", "1"}}, 3, 76, 14, "text/plain;a=\"\";b=1"},
      {"tspecials are quoted", {{"a", "x y;z\"w"}}, 3, 76, 14, "text/plain;a=\"x y;z\\\"w\""},
      {"non-ASCII left out", {{"a", e}, {"b", "1"}}, kParse, 76, 14, "text/plain;b=1"},
      {"non-ASCII as it stands", {{"a", e}}, kUnicode, 76, 14, "text/plain;a=" + e},
      {"non-ASCII quoted when needed", {{"a", e + " x"}}, kUnicode, 76, 14, "text/plain;a=\"" + e + " x\""},
      {"RFC 2231 wins over Unicode", {{"a", e}}, kGenerate | kUnicode, 76, 14, "text/plain;a*=UTF-8''%C3%A9"},
      {"folds after the semicolon",
       {{"a", x30}, {"b", x30}},
       3,
       40,
       14,
       "text/plain;a=" + x30 + ";\r\n b=" + x30},
      {"offset beyond the fold length", {}, 3, 10, 11, "\r\n text/plain"},
      {"no folding with -1", {{"a", x100}, {"b", "1"}}, kParse, -1, 80, "text/plain;a=" + x100 + ";b=1"},
  };
  for (const auto &[label, params, flags, wrap, offset, expected] : rows) {
    TypeRef type = contentType("Text/Plain", params);
    EXPECT_EQ(encode(type.get(), options(flags, wrap).get(), offset), expected) << label;
  }
}

// Readers look a parameter up by "name=" or "name*N*=": a fold may fall only right after a ";" (between RFC
// 2231 sections too), never between a name, its "=" and its value, nor inside the media type.
TEST(ContentTypeEncode, FoldsOnlyAfterASemicolon) {
  const std::string x20(20, 'x'), x70(70, 'x'), e = "\xC3\xA9", longType = "application/vnd.a-long-subtype";
  // clang-format off
  const std::tuple<const char *, std::string, Params, kxInt, kxInt, std::string> rows[] = {
      // label, name, parameters, fold length, section length, expected
      {"issue 12: not between a section's name and its equals sign",
       "text/plain", {{"n", e + "abcdefghij"}}, 12, 12,
       "\r\n text/plain;n*0*=UTF-8''%C3%A9;\r\n n*1*=abcdefghij"},
      {"not inside a long media type",
       longType, {{"a", "1"}}, 10, 60, "\r\n " + longType + ";\r\n a=1"},
      {"issue 12: a long boundary stays whole",
       "multipart/mixed", {{"boundary", x70}, {"t", x70 + x20 + "xxxxxxxxxx"}}, 76, 20,
       "multipart/mixed;boundary=" + x70 + ";\r\n t*0=" + x20 + ";t*1=" + x20 + ";t*2=" + x20 + ";t*3=" + x20 +
       ";\r\n t*4=" + x20},
      {"issue 12: a boundary is quoted, not extended",
       "multipart/x", {{"boundary", "=_a b"}}, 76, 3, "multipart/x;boundary=\"=_a b\""},
      {"issue 12: an apostrophe is quoted",
       "text/plain", {{"name", "apos'trophe.txt"}}, 76, 60, "text/plain;name=\"apos'trophe.txt\""},
      {"an apostrophe in a plain section is quoted",
       "text/plain", {{"n", "ab'cd"}}, 76, 3, "text/plain;n*0=\"ab'\";n*1=cd"},
      {"an extended value keeps its apostrophes bare",
       "text/plain", {{"n", "'" + e}}, 76, 60, "text/plain;n*=UTF-8''%27%C3%A9"},
  };
  // clang-format on
  for (const auto &[label, name, params, wrap, section, expected] : rows) {
    TypeRef type = contentType(name.c_str(), params);
    OptionsRef mo = options(MIME_OPTIONS_DEFAULT_FLAGS, wrap, KX_CHARSET_UTF_8, section);
    EXPECT_EQ(encode(type.get(), mo.get()), expected) << label;
  }
}

// A parameter value holding CR or LF must never put a line break into the header line, nor a NUL, which
// would end the header for every reader that handles C strings: the RFC 2231 flag escapes them (and
// the random round trip decodes them back exactly), otherwise the parameter is left out.
TEST(ContentTypeEncode, LineBreakOrNulInAValueIsEscapedOrDroppedNeverWritten) {
  const std::pair<kxInt, const char *> rows[] = {
      {kParse | kGenerate, "text/plain;file*=UTF-8''a.txt%0D%0ABcc%3A%20x%40y;nul*=UTF-8''a%00b;z=1"},
      {kParse, "text/plain;z=1"},
      {kParse | kUnicode, "text/plain;z=1"},
      {0, "text/plain;z=1"},
  };
  for (const auto &[flags, expected] : rows) {
    TypeRef type = contentType("text/plain", {{"file", "a.txt\r\nBcc: x@y"}, {"nul", "a\0b"s}, {"z", "1"}});
    EXPECT_EQ(encode(type.get(), options(flags, -1).get()), expected) << flags;
  }
}

// --- round trips under random options ---

const std::string kNameChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-._";
const std::string kKeyChars = kNameChars + "!#$&^`{|}~";  // RFC 2231 attribute characters

std::string randomWord(DeterministicRandom &random, const std::string &alphabet, int maxLength) {
  std::string word;
  for (auto n = random.range(1, maxLength); n > 0; --n)
    word += alphabet[random.range(0, alphabet.size() - 1)];
  return word;
}

// Empty, short or long enough for sections and folds; ASCII only or not; with line breaks or not.
std::string randomValue(DeterministicRandom &random) {
  static const char32_t kPool[] = {U'a',      U'Z',      U'0',      U' ',         U'"',  U'\\', U';',
                                   U'=',      U'(',      U')',      U'[',         U']',  U'%',  U'*',
                                   U'\'',     U'\t',     U'/',      U'~',         U'\r', U'\n', U'\u00E9',
                                   U'\u00FF', U'\u20AC', U'\u4E2D', U'\U0001F600'};
  const auto shape = random.range(0, 9);
  const bool asciiOnly = random.chance(40), lineBreaks = random.chance(15);
  std::u32string value;
  for (auto n = shape == 0 ? 0 : shape < 3 ? random.range(100, 400) : random.range(0, 19); n > 0; --n) {
    char32_t c = random.pick(kPool);
    if (asciiOnly && c >= 0x80) c = U'x';
    if (!lineBreaks && (c == U'\r' || c == U'\n')) c = U'y';
    value += c;
  }
  return utf8Of(kxText(value).get());
}

// The parameters that survive encoding under the flags and charset: what decoding must give back.
Params survivors(const Params &params, kxInt flags, kxInt charset) {
  Params kept;
  for (const auto &[key, value] : params) {
    const bool nonAscii = std::any_of(value.begin(), value.end(), [](char c) { return c & 0x80; });
    const bool beyondLatin1 =
        std::any_of(value.begin(), value.end(), [](char c) { return (c & 0xFF) >= 0xC4; });
    const bool lineBreak = value.find_first_of("\r\n") != std::string::npos;
    if ((flags & kGenerate) ? charset == KX_CHARSET_ISO_8859_1 && beyondLatin1
                            : lineBreak || (!(flags & kUnicode) && nonAscii))
      continue;
    kept[key] = value;
  }
  return kept;
}

// Under the parse flag the decoder gives back every parameter that survives the encoding; without it, the
// sections and extended keys exactly as the RFC 2231 encoder wrote them.
TEST(ContentTypeRoundTrip, RandomTypesComeBack) {
  DeterministicRandom random(20240607);
  const kxInt flagChoices[] = {0, kGenerate, kUnicode, kGenerate | kUnicode, kParse | kGenerate, kParse};
  const kxInt wraps[] = {-1, 0, 1, 20, 76, 200}, segments[] = {-1, 1, 2, 3, 5, 10, 60};
  int sectioned = 0;
  for (int round = 0; round < 300; ++round) {
    Params params;
    for (auto n = random.range(0, 5); n > 0; --n)
      params[randomWord(random, kKeyChars, 10)] = randomValue(random);
    const std::string name = randomWord(random, kNameChars, 12) + "/" + randomWord(random, kNameChars, 20);
    TypeRef type = contentType(name.c_str(), params);
    const kxInt charset = random.chance(50) ? KX_CHARSET_UTF_8 : KX_CHARSET_ISO_8859_1;
    OptionsRef mo = options(random.pick(flagChoices), random.pick(wraps), charset, random.pick(segments));
    const std::string text = encode(type.get(), mo.get(), static_cast<kxInt>(random.range(0, 99)));
    // Every line break is a fold, at the start or after a ";": no value can start a header field of its own,
    // and no fold separates a parameter's name, "=" and value.
    for (size_t at = text.find_first_of("\r\n"); at != std::string::npos;
         at = text.find_first_of("\r\n", at + 3)) {
      ASSERT_EQ(text.substr(at, 3), "\r\n ") << text;
      ASSERT_TRUE(at == 0 || text[at - 1] == ';') << text;
    }
    const Params kept = survivors(paramsOf(type.get()), mimeOptionsFlags(mo.get()), charset);
    EXPECT_EQ(decode(text, MIME_OPTIONS_DEFAULT_FLAGS), form(nameOf(type.get()), kept))
        << round << ": " << text;
    if (!(mimeOptionsFlags(mo.get()) & kGenerate)) continue;
    const Params written = paramsOf(
        DictRef(mime___Rfc2231Encode(DictRef(mimeContentTypeParametersDict(type.get())).get(), mo.get()))
            .get());
    for (const auto &entry : written) sectioned += entry.first.find('*') != std::string::npos;
    EXPECT_EQ(decode(text, 0), form(nameOf(type.get()), written)) << round << ": " << text;
  }
  EXPECT_GT(sectioned, 60);  // the inputs did exercise the RFC 2231 forms
}

}  // namespace
