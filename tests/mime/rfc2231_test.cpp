// RFC 2231 parameter codec: sections, charset prefix, percent escapes, per-parameter degradation, and inputs
// large enough that a quadratic join would not finish.
#include <gtest/gtest.h>

#include <string>

#include "mime/header_field_test.hpp"

namespace {

using namespace fieldtest;

constexpr kxInt kUtf8 = KX_CHARSET_UTF_8;
constexpr kxInt kLatin1 = KX_CHARSET_ISO_8859_1;
constexpr kxInt kAscii = KX_CHARSET_US_ASCII;

Params encode(const Params &params, kxInt charset, kxInt segment) {
  OptionsRef mo = options(3, -2, charset, segment);
  DictRef source = dictOf(params);
  DictRef encoded(mime___Rfc2231Encode(source.get(), mo.get()));
  return paramsOf(encoded.get());
}

Params decode(const Params &params) {
  OptionsRef mo(mimeOptionsCreate());
  DictRef source = dictOf(params);
  DictRef decoded(mime___Rfc2231Decode(source.get(), mo.get()));
  return paramsOf(decoded.get());
}

struct EncodeCase {
  const char *label;
  Params input;
  kxInt charset;
  kxInt segment;
  Params expected;
};

const std::string k130(130, 'x');

const EncodeCase kEncodeCases[] = {
    {"long ASCII value in sections of 60",
     {{"name", k130}},
     kUtf8,
     60,
     {{"name*0", std::string(60, 'x')}, {"name*1", std::string(60, 'x')}, {"name*2", std::string(10, 'x')}}},
    {"no limit keeps one piece", {{"name", k130}}, kUtf8, -1, {{"name", k130}}},
    {"exactly the limit stays whole", {{"charset", "utf-8"}}, kUtf8, 5, {{"charset", "utf-8"}}},
    {"empty value keeps its key", {{"e", ""}}, kUtf8, 60, {{"e", ""}}},
    {"non-ASCII in UTF-8",
     {{"name",
       "Gr\xC3\xBC\xC3\x9F"
       "e"}},
     kUtf8,
     -1,
     {{"name*", "UTF-8''Gr%C3%BC%C3%9Fe"}}},
    {"attribute characters stay, the rest is escaped",
     {{"n", "aZ9-._!~ *'%()<>@,;:\\\"/[]?=\xC3\xA9"}},
     kUtf8,
     -1,
     {{"n*", "UTF-8''aZ9-._!~%20%2A%27%25%28%29%3C%3E%40%2C%3B%3A%5C%22%2F%5B%5D%3F%3D%C3%A9"}}},
    {"sections never cut an escape",
     {{"name",
       "Gr\xC3\xBC\xC3\x9F"
       "e"}},
     kUtf8,
     10,
     {{"name*0*", "UTF-8''Gr"}, {"name*1*", "%C3%BC%C3"}, {"name*2*", "%9Fe"}}},
    {"a prefix longer than the limit stands alone",
     {{"n", "\xC3\xA9"}},
     kUtf8,
     3,
     {{"n*0*", "UTF-8''"}, {"n*1*", "%C3"}, {"n*2*", "%A9"}}},
    {"Latin-1 charset", {{"n", "caf\xC3\xA9"}}, kLatin1, -1, {{"n*", "ISO-8859-1''caf%E9"}}},
    {"charset that cannot hold the value drops it",
     {{"a", "\xE2\x82\xAC"}, {"b", "ok"}},
     kLatin1,
     -1,
     {{"b", "ok"}}},
    {"US-ASCII cannot hold non-ASCII", {{"a", "\xC3\xA9"}}, kAscii, -1, {}},
    {"keys that are not attributes are dropped",
     {{"a*b", "1"}, {"a'b", "2"}, {"a%b", "3"}, {"ok", "4"}},
     kUtf8,
     60,
     {{"ok", "4"}}},
    {"CR LF travels escaped", {{"file", "a\r\nB: x"}}, kUtf8, -1, {{"file*", "UTF-8''a%0D%0AB%3A%20x"}}},
    {"a bare LF travels escaped", {{"file", "a\nb"}}, kAscii, -1, {{"file*", "US-ASCII''a%0Ab"}}},
    {"a bare CR in a long value is sectioned like other escapes",
     {{"f", "abc\rdef"}},
     kUtf8,
     10,
     {{"f*0*", "UTF-8''abc"}, {"f*1*", "%0Ddef"}}},
};

TEST(Rfc2231Encode, WritesSectionsAndExtendedValues) {
  for (const EncodeCase &c : kEncodeCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(encode(c.input, c.charset, c.segment), c.expected);
  }
}

TEST(Rfc2231Encode, EverySectionFitsTheLimitWhenThePrefixDoes) {
  std::string value;
  for (int i = 0; i < 50; ++i) value += "\xE2\x82\xAC a\r\n";
  for (kxInt segment : {10, 11, 12, 13, 20, 60}) {
    SCOPED_TRACE(segment);
    const Params encoded = encode({{"v", value}}, kUtf8, segment);
    ASSERT_GT(encoded.size(), 1u);
    for (const auto &[key, section] : encoded) {
      EXPECT_LE(static_cast<kxInt>(section.size()), segment) << key;
      EXPECT_EQ(key.back(), '*') << key;
      EXPECT_EQ(section.find_first_of("\r\n"), std::string::npos);
    }
    EXPECT_EQ(decode(encoded), (Params{{"v", value}}));
  }
}

struct DecodeCase {
  const char *label;
  Params input;
  Params expected;
};

const DecodeCase kDecodeCases[] = {
    {"ordinary parameter", {{"charset", "utf-8"}}, {{"charset", "utf-8"}}},
    {"extended value", {{"name*", "UTF-8''%E2%82%AC"}}, {{"name", "\xE2\x82\xAC"}}},
    {"language is ignored", {{"name*", "UTF-8'en'abc"}}, {{"name", "abc"}}},
    {"charset name in any case", {{"name*", "utf-8''%c3%a9"}}, {{"name", "\xC3\xA9"}}},
    {"Latin-1 octets", {{"name*", "ISO-8859-1''caf%E9"}}, {{"name", "caf\xC3\xA9"}}},
    {"no apostrophes: nothing", {{"name*", "abc"}}, {}},
    {"one apostrophe: nothing", {{"name*", "UTF-8'abc"}}, {}},
    {"unknown charset: nothing", {{"name*", "nosuchcharset''abc"}, {"other", "kept"}}, {{"other", "kept"}}},
    {"code point above 255: nothing", {{"name*", "UTF-8''\xE2\x82\xAC"}, {"x", "1"}}, {{"x", "1"}}},
    {"truncated escape stays literal", {{"a*", "UTF-8''x%4"}}, {{"a", "x%4"}}},
    {"non-hex escape stays literal", {{"a*", "UTF-8''%G1"}}, {{"a", "%G1"}}},
    {"percent at the very end", {{"a*", "UTF-8''%"}}, {{"a", "%"}}},
    {"invalid UTF-8 octets become U+FFFD", {{"a*", "UTF-8''%FFz"}}, {{"a", "\xEF\xBF\xBDz"}}},
    {"octets joined across extended sections",
     {{"name*0*", "UTF-8''%E2%82"}, {"name*1*", "%AC"}},
     {{"name", "\xE2\x82\xAC"}}},
    {"plain section 0 ignores extended sections", {{"name*0", "abc"}, {"name*1*", "%41"}}, {{"name", "abc"}}},
    {"extended section 0 reads plain sections", {{"name*0*", "UTF-8''a"}, {"name*1", "b"}}, {{"name", "ab"}}},
    {"a plain section ends an octet run",
     {{"t*0*", "UTF-8''%C3%A9"}, {"t*1", "-%41"}, {"t*2*", "%C3%BC"}},
     {{"t", "\xC3\xA9-%41\xC3\xBC"}}},
    {"extended wins over plain of the same number",
     {{"t*0*", "UTF-8''a"}, {"t*1*", "b"}, {"t*1", "X"}},
     {{"t", "ab"}}},
    {"gap ends the collection", {{"t*0", "a"}, {"t*1", "b"}, {"t*3", "d"}}, {{"t", "ab"}}},
    {"later section without section 0", {{"t*1", "b"}, {"t*2", "c"}}, {}},
    {"leading zeros are other keys", {{"t*0", "a"}, {"t*01", "b"}, {"t*00", "c"}}, {{"t", "a"}}},
    {"section number beyond 64 bits", {{"t*0", "a"}, {"t*18446744073709551617", "z"}}, {{"t", "a"}}},
    {"ordinary and extended: the later key wins",
     {{"name", "plain"}, {"name*", "UTF-8''ext"}},
     {{"name", "ext"}}},
    {"ordinary and sectioned: the later key wins",
     {{"name", "plain"}, {"name*0", "s0"}, {"name*1", "s1"}},
     {{"name", "s0s1"}}},
    {"plain and extended section 0: the extended one is visited last",
     {{"t*0", "p"}, {"t*0*", "UTF-8''e"}, {"t*1", "q"}},
     {{"t", "eq"}}},
    {"an abandoned attribute keeps what an earlier entry stored",
     {{"t", "kept"}, {"t*0*", "UTF-8''a"}, {"t*1*", "\xC4\x80"}},
     {{"t", "kept"}}},
    {"extended section 0 with an unknown charset", {{"t*0*", "x''a"}, {"t*1", "b"}}, {}},
    {"attribute parts that are not attributes",
     {{"ti*tle", "1"}, {"a*x", "2"}, {"*", "3"}, {"*0", "4"}, {"*0*", "5"}, {"a b", "6"}, {"ok", "7"}},
     {{"ok", "7"}}},
    {"empty sections", {{"t*0", ""}, {"t*1", ""}}, {{"t", ""}}},
};

TEST(Rfc2231Decode, JoinsSectionsAndDecodesExtendedValues) {
  for (const DecodeCase &c : kDecodeCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(decode(c.input), c.expected);
  }
}

TEST(Rfc2231Decode, RandomSectionSoupNeverAbortsAndKeepsOnlyAttributes) {
  const std::string keyChars = "tT*0123'%";
  const std::string valueChars = "aZ%'2EeF\xC3\xA9\xC4\x80";
  Random random(5);
  for (int round = 0; round < 2000; ++round) {
    Params input;
    const size_t count = random.below(8);
    for (size_t i = 0; i < count; ++i) {
      std::string key, value;
      for (size_t n = 1 + random.below(6); n > 0; --n) key += keyChars[random.below(keyChars.size())];
      for (size_t n = random.below(12); n > 0; --n) value += valueChars[random.below(valueChars.size())];
      input[key] = random.chance(30) ? "UTF-8''" + value : value;
    }
    for (const auto &entry : decode(input)) {
      EXPECT_EQ(entry.first.find_first_of("*'%"), std::string::npos) << entry.first;
    }
  }
}

TEST(Rfc2231Decode, ValuesThatAreNotStringsAreReadThroughTheirTextForm) {
  OptionsRef mo(mimeOptionsCreate());
  DictRef source(kxDictCreate());
  DictRef inner = dictOf({{"k", "v"}});
  StringRef key = str("d");
  kxDictSetStringKey(source.addr(), key.get(), kxDictObj(inner.get()));
  DictRef decoded(mime___Rfc2231Decode(source.get(), mo.get()));
  EXPECT_EQ(paramsOf(decoded.get()), (Params{{"d", kxtest::textOf(inner.get())}}));
}

TEST(Rfc2231Decode, LeavesItsInputUnchanged) {
  const Params input = {{"t*0", "a"}, {"t*1", "b"}, {"u*", "UTF-8''x"}};
  OptionsRef mo(mimeOptionsCreate());
  DictRef source = dictOf(input);
  DictRef decoded(mime___Rfc2231Decode(source.get(), mo.get()));
  DictRef encoded(mime___Rfc2231Encode(source.get(), mo.get()));
  EXPECT_EQ(paramsOf(source.get()), input);
  EXPECT_EQ(kxtest::refsOf(source.get()), 1);
}

// --- scale: each of these would take minutes with a quadratic join ---

constexpr int kMany = 100000;

TEST(Rfc2231Scale, HundredThousandPlainSections) {
  Params input;
  std::string expected;
  for (int i = 0; i < kMany; ++i) {
    const std::string section = "s" + std::to_string(i) + ";";
    input["t*" + std::to_string(i)] = section;
    expected += section;
  }
  EXPECT_EQ(decode(input), (Params{{"t", expected}}));
}

TEST(Rfc2231Scale, HundredThousandExtendedSectionsSplittingCharacters) {
  // The three octets of the euro sign fall into three different sections each time.
  const char *octets[] = {"%E2", "%82", "%AC"};
  Params input;
  std::string expected;
  input["t*0*"] = "UTF-8''%E2";
  for (int i = 1; i < kMany; ++i) input["t*" + std::to_string(i) + "*"] = octets[i % 3];
  for (int i = 0; i < kMany / 3; ++i) expected += "\xE2\x82\xAC";
  expected += "\xEF\xBF\xBD";  // the last section opens a character it never finishes
  EXPECT_EQ(decode(input), (Params{{"t", expected}}));
}

TEST(Rfc2231Scale, HundredThousandAlternatingPlainAndExtendedSections) {
  Params input;
  std::string expected;
  input["t*0*"] = "UTF-8''%C3%A9";
  expected = "\xC3\xA9";
  for (int i = 1; i < kMany; ++i) {
    if (i % 2) {
      input["t*" + std::to_string(i)] = "p";
      expected += "p";
    } else {
      input["t*" + std::to_string(i) + "*"] = "%C3%A9";
      expected += "\xC3\xA9";
    }
  }
  EXPECT_EQ(decode(input), (Params{{"t", expected}}));
}

TEST(Rfc2231Scale, HundredThousandParameters) {
  Params input;
  for (int i = 0; i < kMany; ++i) input["p" + std::to_string(i)] = "v" + std::to_string(i);
  EXPECT_EQ(decode(input), input);
}

TEST(Rfc2231Scale, OneLongValueEncodesIntoManySectionsAndBack) {
  std::string value;
  for (int i = 0; i < kMany; ++i) value += (i % 7 == 0) ? "\xC3\xA9" : "a";
  const Params encoded = encode({{"long", value}}, kUtf8, 10);
  EXPECT_GT(encoded.size(), static_cast<size_t>(kMany / 10));
  EXPECT_EQ(decode(encoded), (Params{{"long", value}}));
}

// --- contract violations ---

const std::string kFile = "mime_rfc2231\\.cpp";

TEST(Rfc2231DeathTest, NullArgumentsAbort) {
  OptionsRef mo(mimeOptionsCreate());
  DictRef dict(kxDictCreate());
  EXPECT_DEATH(mime___Rfc2231Encode(nullptr, mo.get()), abortLine(kFile, "source"));
  EXPECT_DEATH(mime___Rfc2231Encode(dict.get(), nullptr), abortLine(kFile, "mo"));
  EXPECT_DEATH(mime___Rfc2231Decode(nullptr, mo.get()), abortLine(kFile, "source"));
  EXPECT_DEATH(mime___Rfc2231Decode(dict.get(), nullptr), abortLine(kFile, "mo"));
}

}  // namespace
