// The Content-Type header codec: what it reads, what it writes, the CR/LF rule, round trips under random
// options, and inputs large enough that quadratic work would not finish.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "mime/header_field_test.hpp"

namespace {

using namespace fieldtest;

constexpr kxInt kParse = MIME_FLAG_PARSE_RFC2231_HEADERS;
constexpr kxInt kGenerate = MIME_FLAG_GENERATE_RFC2231_HEADERS;
constexpr kxInt kUnicode = MIME_FLAG_GENERATE_UNICODE_HEADERS;

struct Decoded {
  std::string name;
  Params params;
  bool operator==(const Decoded &) const = default;
};

std::optional<Decoded> decode(const std::string &text, kxInt flags = kParse) {
  OptionsRef mo = options(flags);
  StringRef value(kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size())));
  ContentTypeRef type(mimeContentTypeTryDecode(value.get(), mo.get()));
  if (!type) return std::nullopt;
  return Decoded{nameOf(type.get()), paramsOf(type.get())};
}

std::string encode(MIME_CONTENT_TYPE *type, MIME_OPTIONS *mo, kxInt offset = 14) {
  StringRef text(mimeContentTypeEncode(type, mo, offset));
  return utf8Of(text.get());
}

// --- decoding ---

struct DecodeCase {
  const char *label;
  const char *text;
  kxInt flags;
  std::optional<Decoded> expected;
};

const DecodeCase kDecodeCases[] = {
    {"name is lowered", "TEXT/Plain", kParse, Decoded{"text/plain", {}}},
    {"trailing comment", "text/plain (comment)", kParse, Decoded{"text/plain", {}}},
    {"leading comment and spaces around the slash", "(c) text / plain", kParse, Decoded{"text/plain", {}}},
    {"quoted type", "\"text\"/plain", kParse, Decoded{"text/plain", {}}},
    {"folded value", "text/plain;\r\n charset=utf-8", kParse, Decoded{"text/plain", {{"charset", "utf-8"}}}},
    {"type only", "text", kParse, std::nullopt},
    {"no subtype", "text/", kParse, std::nullopt},
    {"no type", "/plain", kParse, std::nullopt},
    {"wildcard subtype", "image/*", kParse, std::nullopt},
    {"space instead of slash", "text plain", kParse, std::nullopt},
    {"other tspecial instead of slash", "text;plain", kParse, std::nullopt},
    {"comment as subtype", "text/(plain)", kParse, std::nullopt},
    {"empty", "", kParse, std::nullopt},
    {"only a comment", "(text/plain)", kParse, std::nullopt},
    {"unterminated quoted string", "text/plain; a=\"x", kParse, std::nullopt},
    {"quoted value keeps its case", "text/plain; Charset=\"UTF-8\"", kParse,
     Decoded{"text/plain", {{"charset", "UTF-8"}}}},
    {"key without equals sign", "text/plain; charset", kParse, Decoded{"text/plain", {{"charset", ""}}}},
    {"key with equals sign and no value", "text/plain; charset=", kParse,
     Decoded{"text/plain", {{"charset", ""}}}},
    {"separator alone", "text/plain;", kParse, Decoded{"text/plain", {}}},
    {"later key replaces earlier", "text/plain; a=1; A=2", kParse, Decoded{"text/plain", {{"a", "2"}}}},
    {"domain literal value ends the list", "text/plain; a=[x]; b=2", kParse,
     Decoded{"text/plain", {{"a", ""}}}},
    {"empty value before the next parameter", "text/plain; a=;b=c", kParse,
     Decoded{"text/plain", {{"a", ""}, {"b", "c"}}}},
    {"extra slash ends reading", "text/plain/x", kParse, Decoded{"text/plain", {}}},
    {"word after a key ends reading", "text/plain; a b=c", kParse, Decoded{"text/plain", {{"a", ""}}}},
    {"unacceptable quoted key is skipped", "text/plain; \"a b\"=1; c=2", kParse,
     Decoded{"text/plain", {{"c", "2"}}}},
    {"non-ASCII key is skipped", "text/plain; \xC3\xA4=1; c=2", kParse, Decoded{"text/plain", {{"c", "2"}}}},
    {"comments anywhere", "text/plain; (c) a (d) = (e) 1 (f)", kParse, Decoded{"text/plain", {{"a", "1"}}}},
    {"escapes in a quoted value", "text/plain; a=\"x\\\"y\\\\\"", kParse,
     Decoded{"text/plain", {{"a", "x\"y\\"}}}},
    {"sections joined", "application/x; title*0=ab; title*1=cd", kParse,
     Decoded{"application/x", {{"title", "abcd"}}}},
    {"quoted section joined", "application/x; title*0=\"ab\"; title*1=cd", kParse,
     Decoded{"application/x", {{"title", "abcd"}}}},
    {"sections kept without the parse flag", "application/x; title*0=ab; title*1=cd", 0,
     Decoded{"application/x", {{"title*0", "ab"}, {"title*1", "cd"}}}},
    {"extended value", "application/x; title*=UTF-8''%E2%82%AC", kParse,
     Decoded{"application/x", {{"title", "\xE2\x82\xAC"}}}},
    {"upper-case section keys are joined", "application/x; TITLE*0=a; Title*1=b", kParse,
     Decoded{"application/x", {{"title", "ab"}}}},
    {"key that is no attribute disappears under the parse flag", "text/plain; a*b=1; c=2", kParse,
     Decoded{"text/plain", {{"c", "2"}}}},
    {"key that is no attribute stays without it", "text/plain; a*b=1; c=2", 0,
     Decoded{"text/plain", {{"a*b", "1"}, {"c", "2"}}}},
    {"typical multipart value",
     "multipart/mixed; boundary=\"----=_Part_123_456.789\"; charset=utf-8; "
     "title*0*=UTF-8''%E2%82%AC%20rates; title*1*=%20for%20you; format=flowed",
     kParse,
     Decoded{"multipart/mixed",
             {{"boundary", "----=_Part_123_456.789"},
              {"charset", "utf-8"},
              {"format", "flowed"},
              {"title", "\xE2\x82\xAC rates for you"}}}},
};

TEST(ContentTypeDecode, ReadsMediaTypeAndParameters) {
  for (const DecodeCase &c : kDecodeCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(decode(c.text, c.flags), c.expected);
  }
}

TEST(ContentTypeDecode, NeverAbortsOnHostileText) {
  // Every prefix of a value rich in delimiters, escapes, folds and RFC 2231 forms, and every
  // single-code-point corruption of it: a result or null, never an abort.
  const std::string base =
      "multipart/mixed (a \\) (b)) ; x*0*=UTF-8''%E2%8; x*1=\"q\\\"\r\n r\"; [d\\]] ;=; y*=''; z*=%%%; "
      "\xC3\xA9=\xE2\x82\xAC; ;;; a=\"\\";
  const char corruptions[] = {'"', '(', ')', '[', ']', '\\', '\r', '\n', ';', '=', '*', '\'', '%', '\0'};
  int decoded = 0;
  for (size_t end = 0; end <= base.size(); ++end) {
    if (decode(base.substr(0, end))) ++decoded;
    for (char c : corruptions) {
      std::string text = base.substr(0, end);
      if (end > 0) text[end - 1] = c;
      decode(text, kParse);
      decode(text, 0);
    }
  }
  EXPECT_GT(decoded, 0);

  // Random texts over the characters that steer the tokenizer and the RFC 2231 decoder.
  const std::string alphabet = "ab/;=*0123'%\"()[]\\ \t\r\n\xC3\xA9";
  Random random(99);
  for (int round = 0; round < 3000; ++round) {
    std::string text = random.chance(50) ? "text/plain;" : "";
    const size_t length = random.below(40);
    for (size_t i = 0; i < length; ++i) text += alphabet[random.below(alphabet.size())];
    decode(text, round % 2 ? kParse : 0);
  }
}

// --- encoding ---

struct EncodeCase {
  const char *label;
  const char *name;
  Params params;
  kxInt flags;
  kxInt wrap;
  kxInt offset;
  std::string expected;
};

const EncodeCase kEncodeCases[] = {
    {"bare type", "Text/Plain", {}, 3, 76, 14, "text/plain"},
    {"one parameter", "text/plain", {{"charset", "utf-8"}}, 3, 76, 14, "text/plain;charset=utf-8"},
    {"empty value is quoted", "text/plain", {{"a", ""}}, 3, 76, 14, "text/plain;a=\"\""},
    {"value with tspecials is quoted",
     "text/plain",
     {{"a", "x y;z\"w"}},
     3,
     76,
     14,
     "text/plain;a=\"x y;z\\\"w\""},
    {"non-ASCII without a generate flag is left out",
     "text/plain",
     {{"a", "\xC3\xA9"}, {"b", "1"}},
     kParse,
     76,
     14,
     "text/plain;b=1"},
    {"non-ASCII as it stands with the Unicode flag",
     "text/plain",
     {{"a", "\xC3\xA9"}},
     kUnicode,
     76,
     14,
     "text/plain;a=\xC3\xA9"},
    {"non-ASCII quoted with the Unicode flag when needed",
     "text/plain",
     {{"a", "\xC3\xA9 x"}},
     kUnicode,
     76,
     14,
     "text/plain;a=\"\xC3\xA9 x\""},
    {"non-ASCII extended with the RFC 2231 flag",
     "text/plain",
     {{"a", "\xC3\xA9"}},
     kGenerate,
     76,
     14,
     "text/plain;a*=UTF-8''%C3%A9"},
    {"RFC 2231 flag wins over the Unicode flag",
     "text/plain",
     {{"a", "\xC3\xA9"}},
     kGenerate | kUnicode,
     76,
     14,
     "text/plain;a*=UTF-8''%C3%A9"},
    {"folds between parameters",
     "text/plain",
     {{"a", std::string(30, 'x')}, {"b", std::string(30, 'y')}},
     3,
     40,
     14,
     "text/plain;a=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n ;b=yyyyyyyyyyyyyyyyyyyyyyyyyyyyyy"},
    {"offset beyond the fold length starts with a fold", "text/plain", {}, 3, 10, 11, "\r\n text/plain"},
    {"no folding with -1",
     "text/plain",
     {{"a", std::string(100, 'x')}, {"b", "1"}},
     kParse,
     -1,
     80,
     "text/plain;a=" + std::string(100, 'x') + ";b=1"},
};

TEST(ContentTypeEncode, WritesTypeAndParameters) {
  for (const EncodeCase &c : kEncodeCases) {
    SCOPED_TRACE(c.label);
    ContentTypeRef type = contentType(c.name, c.params);
    OptionsRef mo = options(c.flags, c.wrap);
    EXPECT_EQ(encode(type.get(), mo.get(), c.offset), c.expected);
  }
}

// A parameter value holding CR or LF must never put a line break into the header line: the RFC 2231 flag
// escapes it, otherwise the parameter is left out.
struct LineBreakCase {
  const char *label;
  kxInt flags;
  const char *expected;
};

const LineBreakCase kLineBreakCases[] = {
    {"escaped with the RFC 2231 flag", kParse | kGenerate,
     "text/plain;file*=UTF-8''a.txt%0D%0ABcc%3A%20x%40y;z=1"},
    {"left out without a generate flag", kParse, "text/plain;z=1"},
    {"left out with the Unicode flag", kParse | kUnicode, "text/plain;z=1"},
};

TEST(ContentTypeEncode, LineBreakInAValueNeverReachesTheHeaderLine) {
  for (const LineBreakCase &c : kLineBreakCases) {
    SCOPED_TRACE(c.label);
    ContentTypeRef type = contentType("text/plain", {{"file", "a.txt\r\nBcc: x@y"}, {"z", "1"}});
    OptionsRef mo = options(c.flags, -1);
    EXPECT_EQ(encode(type.get(), mo.get()), c.expected);
  }
  for (const char *value : {"\r", "\n", "a\rb", "a\nb", "\r\n\r\n", "x\r\n y"}) {
    ContentTypeRef type = contentType("text/plain", {{"v", value}});
    OptionsRef mo = options(kParse | kUnicode);
    EXPECT_EQ(encode(type.get(), mo.get()), "text/plain") << value;
  }
}

TEST(ContentTypeEncode, LineBreakInAValueRoundTripsExactlyUnderRfc2231) {
  const std::string values[] = {"a.txt\r\nBcc: x@y",   "\r", "\n", "\n\r", "a\r\n b\r\n\tc",
                                std::string(200, '\n')};
  for (const std::string &value : values) {
    for (kxInt segment : {-1, 3, 10, 60}) {
      SCOPED_TRACE(segment);
      ContentTypeRef type = contentType("text/plain", {{"file", value}});
      OptionsRef mo = options(kParse | kGenerate, 76, KX_CHARSET_UTF_8, segment);
      const std::string text = encode(type.get(), mo.get());
      EXPECT_EQ(decode(text), (Decoded{"text/plain", {{"file", value}}})) << text;
    }
  }
}

// --- round trips under random options ---

// The characters a generated name may use (the name rule), and a key may use (RFC 2231 attribute characters).
const std::string kNameChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-._";
const std::string kKeyChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!#$&+-.^_`{|}~";

std::string randomWord(Random &random, const std::string &alphabet, size_t maxLength) {
  std::string word;
  const size_t length = 1 + random.below(maxLength);
  for (size_t i = 0; i < length; ++i) word += alphabet[random.below(alphabet.size())];
  return word;
}

bool hasNonAscii(const std::string &text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

bool hasLineBreak(const std::string &text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// Code points above U+00FF, which ISO-8859-1 cannot hold.
bool hasBeyondLatin1(const std::string &text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0xC4) return true;  // a lead byte of U+0100 or above
  }
  return false;
}

std::string randomValue(Random &random) {
  static const char32_t kPool[] = {U'a',      U'Z',          U'0',  U' ', U'"',      U'\\',     U';',
                                   U'=',      U'(',          U')',  U'[', U']',      U'%',      U'*',
                                   U'\'',     U'\t',         U'/',  U'~', U'\u00E9', U'\u00FF', U'\u20AC',
                                   U'\u4E2D', U'\U0001F600', U'\r', U'\n'};
  std::string value;
  const size_t shape = random.below(10);
  if (shape == 0) return value;  // empty
  const size_t length =
      shape < 3 ? 100 + random.below(300) : random.below(20);  // some need sections and folds
  const bool asciiOnly = random.chance(40);
  const bool lineBreaks = random.chance(15);
  for (size_t i = 0; i < length; ++i) {
    char32_t c = kPool[random.below(std::size(kPool))];
    if (asciiOnly && c >= 0x80) c = U'x';
    if (!lineBreaks && (c == U'\r' || c == U'\n')) c = U'y';
    appendUtf8(value, c);
  }
  return value;
}

// The parameters that survive encoding under the flags and charset: what decoding must give back.
Params survivors(const Params &params, kxInt flags, kxInt charset) {
  Params kept;
  for (const auto &[key, value] : params) {
    const bool extended = hasNonAscii(value) || hasLineBreak(value);
    if (flags & kGenerate) {
      if (extended && charset == KX_CHARSET_ISO_8859_1 && hasBeyondLatin1(value)) continue;
    } else if (hasLineBreak(value) || (!(flags & kUnicode) && hasNonAscii(value))) {
      continue;
    }
    kept[key] = value;
  }
  return kept;
}

// Every line after the first is a continuation (starts with SP): no value can start a header field of its
// own.
void expectOnlyFolds(const std::string &text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      ASSERT_LT(i + 2, text.size()) << text;
      EXPECT_EQ(text.substr(i, 3), "\r\n ") << "at " << i;
    } else if (text[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(text[i - 1], '\r') << "bare LF at " << i;
    }
  }
}

TEST(ContentTypeRoundTrip, RandomTypesComeBackUnderTheParseFlag) {
  Random random(20240607);
  const kxInt flagChoices[] = {0, kGenerate, kUnicode, kGenerate | kUnicode, kParse | kGenerate, kParse};
  const kxInt wraps[] = {-1, 0, 1, 20, 76, 200};
  const kxInt charsets[] = {KX_CHARSET_UTF_8, KX_CHARSET_ISO_8859_1};
  const kxInt segments[] = {-1, 1, 2, 3, 5, 10, 60};
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    const std::string name = randomWord(random, kNameChars, 12) + "/" + randomWord(random, kNameChars, 20);
    Params params;
    const size_t count = random.below(6);
    for (size_t i = 0; i < count; ++i) params[randomWord(random, kKeyChars, 10)] = randomValue(random);
    ContentTypeRef type = contentType(name.c_str(), params);
    const Params stored = paramsOf(type.get());  // keys lowered, duplicates merged

    const kxInt flags = flagChoices[random.below(std::size(flagChoices))];
    const kxInt charset = charsets[random.below(2)];
    OptionsRef mo = options(flags, wraps[random.below(std::size(wraps))], charset,
                            segments[random.below(std::size(segments))]);
    const std::string text = encode(type.get(), mo.get(), static_cast<kxInt>(random.below(100)));
    expectOnlyFolds(text);
    EXPECT_EQ(decode(text, MIME_OPTIONS_DEFAULT_FLAGS),
              (Decoded{nameOf(type.get()), survivors(stored, mimeOptionsFlags(mo.get()), charset)}))
        << text;
  }
}

TEST(ContentTypeRoundTrip, WithoutTheParseFlagRfc2231KeysStayAsWritten) {
  Random random(77);
  int sectioned = 0;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Params params;
    const size_t count = 1 + random.below(4);
    for (size_t i = 0; i < count; ++i) params[randomWord(random, kKeyChars, 8)] = randomValue(random);
    ContentTypeRef type = contentType("application/x-test", params);
    OptionsRef mo = options(kGenerate, 76, KX_CHARSET_UTF_8, 1 + static_cast<kxInt>(random.below(40)));
    const std::string text = encode(type.get(), mo.get());

    DictRef stored(mimeContentTypeParametersDict(type.get()));
    DictRef written(mime___Rfc2231Encode(stored.get(), mo.get()));
    const Params expected = paramsOf(written.get());
    for (const auto &entry : expected) sectioned += entry.first.find('*') != std::string::npos;
    EXPECT_EQ(decode(text, 0), (Decoded{"application/x-test", expected})) << text;
  }
  EXPECT_GT(sectioned, 100);  // the inputs did exercise the RFC 2231 forms
}

// --- scale: each of these would take minutes with quadratic work ---

constexpr int kMany = 100000;

TEST(ContentTypeScale, HundredThousandParameters) {
  std::string text = "text/plain";
  Params expected;
  for (int i = 0; i < kMany; ++i) {
    const std::string key = "p" + std::to_string(i);
    const std::string value = (i % 2 ? "v" : "\"v ") + std::to_string(i) + (i % 2 ? "" : "\"");
    text += "; " + key + "=" + value;
    expected[key] = (i % 2 ? "v" : "v ") + std::to_string(i);
  }
  EXPECT_EQ(decode(text, kParse), (Decoded{"text/plain", expected}));
  EXPECT_EQ(decode(text, 0), (Decoded{"text/plain", expected}));
}

TEST(ContentTypeScale, HundredThousandSectionsInReverseWithNoise) {
  // Sections in reverse order, one number written twice (the later one counts), and keys that must not join:
  // leading zeros, a number beyond 64 bits, and a section after a gap.
  std::string text = "application/x; t*7=early";
  std::string expected;
  for (int i = kMany - 1; i >= 0; --i) {
    text += "; t*" + std::to_string(i) + "=s" + std::to_string(i);
    if (i % 1000 == 0) text += "; t*0" + std::to_string(i) + "=lead; t*18446744073709551617=huge";
  }
  text += "; t*" + std::to_string(kMany + 1) + "=aftergap";
  for (int i = 0; i < kMany; ++i) expected += "s" + std::to_string(i);
  EXPECT_EQ(decode(text), (Decoded{"application/x", {{"t", expected}}}));
}

TEST(ContentTypeScale, HundredThousandExtendedSections) {
  std::string text = "application/x; t*0*=UTF-8''%E2%82%AC";
  std::string expected = "\xE2\x82\xAC";
  for (int i = 1; i < kMany; ++i) {
    text += "; t*" + std::to_string(i) + "*=%E2%82%AC";
    expected += "\xE2\x82\xAC";
  }
  EXPECT_EQ(decode(text), (Decoded{"application/x", {{"t", expected}}}));
}

TEST(ContentTypeScale, HundredThousandComments) {
  std::string text = "text/plain";
  for (int i = 0; i < kMany; ++i) text += " (c" + std::to_string(i) + " (nested))";
  text += "; a=1";
  for (int i = 0; i < kMany; ++i) text += "(x)";
  EXPECT_EQ(decode(text), (Decoded{"text/plain", {{"a", "1"}}}));
}

TEST(ContentTypeScale, HundredThousandParametersEncode) {
  ContentTypeRef type = contentType("text/plain");
  Params expected;
  for (int i = 0; i < kMany; ++i) {
    const std::string key = "p" + std::to_string(i);
    const std::string value = i % 3 ? "v" + std::to_string(i) : std::string(70, 'a') + "\xC3\xA9";
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), key.c_str(), -1, value.c_str(), -1);
    expected[key] = value;
  }
  OptionsRef mo(mimeOptionsCreate());
  const std::string text = encode(type.get(), mo.get());
  EXPECT_EQ(decode(text), (Decoded{"text/plain", expected}));
}

// --- contract violations ---

TEST(ContentTypeCodecDeathTest, NullArgumentsAbort) {
  const std::string file = "mime_content_type_codec\\.cpp";
  OptionsRef mo(mimeOptionsCreate());
  ContentTypeRef type = contentType("text/plain");
  StringRef text = str("text/plain");
  EXPECT_DEATH(mimeContentTypeEncode(nullptr, mo.get(), 0), abortLine(file, "contentType"));
  EXPECT_DEATH(mimeContentTypeEncode(type.get(), nullptr, 0), abortLine(file, "mo"));
  EXPECT_DEATH(mimeContentTypeTryDecode(nullptr, mo.get()), abortLine(file, "contentType"));
  EXPECT_DEATH(mimeContentTypeTryDecode(text.get(), nullptr), abortLine(file, "mo"));
  EXPECT_DEATH(mimeContentTypeEncode(type.get(), mo.get(), -1), "firstLineOffset >= 0");
}

}  // namespace
