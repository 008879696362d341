// RFC 2231 parameter codec: sections, charset prefix, percent escapes (junk included) and per-parameter
// degradation.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

constexpr kxInt kUtf8 = KX_CHARSET_UTF_8;

// Parameters as "key=value;key=value" in key order.
std::string text(const Params &params) {
  const std::string joined = form("", params);
  return joined.empty() ? joined : joined.substr(1);
}

Params encode(const Params &params, kxInt charset, kxInt segment) {
  return paramsOf(
      DictRef(mime___Rfc2231Encode(dictOf(params).get(), options(3, -2, charset, segment).get())).get());
}

Params decode(const Params &params) {
  return paramsOf(DictRef(mime___Rfc2231Decode(dictOf(params).get(), options().get())).get());
}

// One value under the key "n": how it is written for a charset and a section length.
TEST(Rfc2231Encode, WritesSectionsAndExtendedValues) {
  const kxInt shiftJis = kxCharsetFromIanaName(str("Shift_JIS").get());
  const std::tuple<const char *, std::string, kxInt, kxInt, std::string> rows[] = {
      // label, value, charset, section length, expected
      {"long ASCII value in sections", "xxxxxxxxxxy", kUtf8, 5, "n*0=xxxxx;n*1=xxxxx;n*2=y"},
      {"no limit keeps one piece", "xxxxxxxxxx", kUtf8, -1, "n=xxxxxxxxxx"},
      {"exactly the limit", "utf-8", kUtf8, 5, "n=utf-8"},
      {"empty", "", kUtf8, 5, "n="},
      {"attribute characters stay", "aZ9-._!~ *'%()<>@,;:\\\"/[]?=\xC3\xA9", kUtf8, -1,
       "n*=UTF-8''aZ9-._!~%20%2A%27%25%28%29%3C%3E%40%2C%3B%3A%5C%22%2F%5B%5D%3F%3D%C3%A9"},
      {"issue 12: sections never cut a character", "Gr\xC3\xBC\xC3\x9F-e", kUtf8, 10,
       "n*0*=UTF-8''Gr;n*1*=%C3%BC;n*2*=%C3%9F-e"},
      {"the prefix never stands alone", "\xC3\xA9", kUtf8, 3, "n*=UTF-8''%C3%A9"},
      {"a character wider than the limit stands alone", "a\xC3\xA9", kUtf8, 3, "n*0*=UTF-8''a;n*1*=%C3%A9"},
      {"a four-octet character whole",
       "a\xF0\x9F\x98\x80"
       "b",
       kUtf8, 14, "n*0*=UTF-8''a;n*1*=%F0%9F%98%80b"},
      {"escaped text exactly the limit", "ab\xC3\xA9", kUtf8, 15, "n*=UTF-8''ab%C3%A9"},
      {"escaped text one past the limit", "ab\xC3\xA9", kUtf8, 14, "n*0*=UTF-8''ab;n*1*=%C3%A9"},
      {"a two-octet Shift_JIS character whole",
       "a\xE6\x97\xA5"
       "b",
       shiftJis, 15, "n*0*=Shift_JIS''a;n*1*=%93%FAb"},
      {"Latin-1 charset", "caf\xC3\xA9", KX_CHARSET_ISO_8859_1, -1, "n*=ISO-8859-1''caf%E9"},
      {"a charset that cannot hold it", "\xE2\x82\xAC", KX_CHARSET_ISO_8859_1, -1, ""},
      {"CR LF travels escaped", "a\r\nB: x", kUtf8, -1, "n*=UTF-8''a%0D%0AB%3A%20x"},
      {"a bare LF, even in US-ASCII", "a\nb", KX_CHARSET_US_ASCII, -1, "n*=US-ASCII''a%0Ab"},
  };
  for (const auto &[label, value, charset, segment, expected] : rows)
    EXPECT_EQ(text(encode({{"n", value}}, charset, segment)), expected) << label;
  // Keys that are not attributes are dropped.
  EXPECT_EQ(text(encode({{"a*b", "1"}, {"a'b", "2"}, {"a%b", "3"}, {"ok", "4"}}, kUtf8, 60)), "ok=4");
  // A lone surrogate (only a string made from code points holds one) has no octets in any charset: the
  // parameter is left out, never written as U+FFFD or as nothing.
  const kxChar loneSurrogate[] = {'a', 0xD800, 'b'};
  for (kxInt charset : {kUtf8, kxInt{KX_CHARSET_ISO_8859_1}}) {
    DictRef dict = dictOf({{"ok", "4"}});
    kxDictSetStringKey(dict.addr(), str("n").get(),
                       kxStringObj(StringRef(kxStringCreateFromChars(loneSurrogate, 3)).get()));
    DictRef encoded(mime___Rfc2231Encode(dict.get(), options(3, -2, charset, -1).get()));
    EXPECT_EQ(text(paramsOf(encoded.get())), "ok=4") << "charset " << charset;
  }
}

TEST(Rfc2231Encode, EverySectionFitsTheLimitAndHoldsWholeCharacters) {
  std::string value = "x";  // the prefix and one character fit every limit below
  for (int i = 0; i < 50; ++i) value += "\xE2\x82\xAC a\r\n";
  for (kxInt segment : {10, 11, 12, 13, 60}) {
    const Params encoded = encode({{"v", value}}, kUtf8, segment);
    ASSERT_GT(encoded.size(), 1u);
    for (const auto &[key, section] : encoded) {
      EXPECT_LE(static_cast<kxInt>(section.size()), segment) << key;
      EXPECT_EQ(key.back(), '*') << key;
      EXPECT_EQ(section.find_first_of("\r\n"), std::string::npos);
      // A section that began inside a character would start with the escape of a UTF-8 continuation octet.
      const std::string text = key == "v*0*" ? section.substr(7) : section;
      EXPECT_FALSE(text.size() > 1 && text[0] == '%' &&
                   std::string("89AB").find(text[1]) != std::string::npos)
          << key << "=" << section;
    }
    EXPECT_EQ(decode(encoded), (Params{{"v", value}})) << segment;
  }
}

TEST(Rfc2231Decode, JoinsSectionsAndDecodesExtendedValues) {
  const std::tuple<const char *, Params, std::string> rows[] = {
      {"ordinary parameter", {{"charset", "utf-8"}}, "charset=utf-8"},
      {"extended value, language ignored", {{"n*", "UTF-8'en'%E2%82%AC"}}, "n=\xE2\x82\xAC"},
      {"charset name in any case", {{"n*", "utf-8''%c3%a9"}}, "n=\xC3\xA9"},
      {"Latin-1 octets", {{"n*", "ISO-8859-1''caf%E9"}}, "n=caf\xC3\xA9"},
      {"one apostrophe: nothing", {{"n*", "UTF-8'abc"}}, ""},
      {"unknown charset (a prefix of utf-8): nothing", {{"n*", "utf''abc"}, {"o", "kept"}}, "o=kept"},
      {"code point above 255: nothing", {{"n*", "UTF-8''\xE2\x82\xAC"}, {"x", "1"}}, "x=1"},
      {"broken escapes stay literal", {{"a*", "UTF-8''%G1x%4"}, {"b*", "UTF-8''%"}}, "a=%G1x%4;b=%"},
      {"a percent sign before an escape", {{"a*", "UTF-8''%%41"}, {"b*", "UTF-8''%4%41"}}, "a=%A;b=%4A"},
      {"%00 is a NUL, + no space", {{"t*", "UTF-8''a%00+%2B"}}, "t=a\0++"s},
      {"an escape cut by a section end stays literal", {{"t*0*", "UTF-8''x%4"}, {"t*1*", "1"}}, "t=x%41"},
      {"a lone lead octet", {{"t*", "UTF-8''%C3"}}, "t=\xEF\xBF\xBD"},
      {"invalid UTF-8 octets become U+FFFD", {{"a*", "UTF-8''%FFz"}}, "a=\xEF\xBF\xBDz"},
      {"octets joined across sections", {{"n*0*", "UTF-8''%E2%82"}, {"n*1*", "%AC"}}, "n=\xE2\x82\xAC"},
      {"plain section 0 ignores extended sections", {{"n*0", "abc"}, {"n*1*", "%41"}}, "n=abc"},
      {"plain ends an octet run",
       {{"t*0*", "UTF-8''%C3%A9"}, {"t*1", "-%41"}, {"t*2*", "%C3%BC"}},
       "t=\xC3\xA9-%41\xC3\xBC"},
      {"extended wins over plain", {{"t*0*", "UTF-8''a"}, {"t*1*", "b"}, {"t*1", "X"}}, "t=ab"},
      {"gap ends the collection", {{"t*0", "a"}, {"t*1", "b"}, {"t*3", "d"}}, "t=ab"},
      {"later section without section 0", {{"t*1", "b"}, {"t*2", "c"}}, ""},
      {"leading zeros are other keys", {{"t*0", "a"}, {"t*01", "b"}, {"t*00", "c"}}, "t=a"},
      {"section number beyond 64 bits", {{"t*0", "a"}, {"t*18446744073709551617", "z"}}, "t=a"},
      {"section 2^63-1 is never reached",
       {{"t*0", "a"}, {"t*1", "b"}, {"t*9223372036854775807", "z"}},
       "t=ab"},
      {"negative numbers", {{"t*0", "a"}, {"t*-1", "x"}, {"t*-1*", "%41"}, {"t*-0", "y"}}, "t=a"},
      {"a plus sign", {{"t*0*", "UTF-8''a"}, {"t*+1*", "b"}, {"t*+1", "c"}}, "t=a"},
      {"non-ASCII digits", {{"t*0", "a"}, {"t*\xD9\xA1", "b"}, {"t*\xEF\xBC\x91*", "c"}}, "t=a"},
      {"only negative and huge numbers", {{"t*-1", "a"}, {"t*18446744073709551617*", "%41"}}, ""},
      {"two stars", {{"t*0", "a"}, {"t**", "c"}, {"t**0", "d"}}, "t=a"},
      {"ordinary, then extended: the later wins", {{"n", "plain"}, {"n*", "UTF-8''ext"}}, "n=ext"},
      {"ordinary, then sections: the later wins", {{"n", "plain"}, {"n*0", "s0"}, {"n*1", "s1"}}, "n=s0s1"},
      {"extended section 0 is visited last", {{"t*0", "p"}, {"t*0*", "UTF-8''e"}, {"t*1", "q"}}, "t=eq"},
      {"abandoned: earlier value stays",
       {{"t", "kept"}, {"t*0*", "UTF-8''a"}, {"t*1*", "\xC4\x80"}},
       "t=kept"},
      {"not attributes", {{"ti*tle", "1"}, {"a*x", "2"}, {"*", "3"}, {"*0*", "5"}, {"ok", "7"}}, "ok=7"},
      {"empty sections", {{"t*0", ""}, {"t*1", ""}}, "t="},
  };
  for (const auto &[label, input, expected] : rows) EXPECT_EQ(text(decode(input)), expected) << label;
}

TEST(Rfc2231Decode, RandomSectionSoupNeverAbortsAndKeepsOnlyAttributes) {
  const std::string keyChars = "tT*0123'%", valueChars = "aZ%'2EeF\xC3\xA9\xC4\x80";
  DeterministicRandom random(5);
  for (int round = 0; round < 1000; ++round) {
    Params input;
    for (auto count = random.range(0, 7); count > 0; --count) {
      std::string key, value = random.chance(30) ? "UTF-8''" : "";
      for (auto n = random.range(1, 6); n > 0; --n) key += keyChars[random.range(0, keyChars.size() - 1)];
      for (auto n = random.range(0, 11); n > 0; --n)
        value += valueChars[random.range(0, valueChars.size() - 1)];
      input[key] = value;
    }
    for (const auto &entry : decode(input))
      ASSERT_EQ(entry.first.find_first_of("*'%"), std::string::npos) << entry.first;
  }
}

TEST(Rfc2231Decode, LeavesItsInputUnchangedAndReadsOtherValuesThroughTheirTextForm) {
  const Params input = {{"t*0", "a"}, {"t*1", "b"}, {"u*", "UTF-8''x"}};
  DictRef source = dictOf(input);
  DictRef decoded(mime___Rfc2231Decode(source.get(), options().get()));
  DictRef encoded(mime___Rfc2231Encode(source.get(), options().get()));
  EXPECT_EQ(paramsOf(source.get()), input);
  EXPECT_EQ(refsOf(source.get()), 1);
  DictRef inner = dictOf({{"k", "v"}});
  kxDictSetStringKey(source.addr(), str("d").get(), kxDictObj(inner.get()));
  decoded.reset(mime___Rfc2231Decode(source.get(), options().get()));
  const std::string innerText = utf8Of(StringRef(kxObjToString(kxDictObj(inner.get()))).get());
  EXPECT_EQ(text(paramsOf(decoded.get())), "d=" + innerText + ";t=ab;u=x");
}

}  // namespace
