// Encoded words: what the decoder makes of well-formed, joined, split and malformed words, the encoder's
// exact output, and for random texts that every encoded line fits and decodes back to the text.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

// The decoded text, followed by " (malformed)" when the decoder said so.
std::string decode(const std::string &text) {
  kxBool malformed = -1;
  const std::string decoded = utf8Of(StringRef(mimeEncodedWordDecode(str(text).get(), &malformed)).get());
  EXPECT_TRUE(malformed == 0 || malformed == 1);
  return malformed ? decoded + " (malformed)" : decoded;
}

std::string encode(const std::string &text, kxInt wrap = 76, kxInt offset = 9) {
  return utf8Of(StringRef(mimeEncodedWordEncode(str(text).get(),
                                                options(MIME_OPTIONS_DEFAULT_FLAGS, wrap).get(), offset))
                    .get());
}

// The value with its folds taken out, as a header reader unfolds it.
std::string unfold(std::string value) {
  for (size_t at; (at = value.find("\r\n")) != std::string::npos;) value.erase(at, 2);
  return value;
}

TEST(EncodedWordDecode, ReadsWordsAndKeepsWhatIsNotOne) {
  const std::tuple<const char *, std::string, std::string> rows[] = {
      // label, text, expected
      {"Q, lower case", "=?iso-8859-1?q?caf=e9_au_lait?=", "café au lait"},
      {"B, padded", "=?UTF-8?B?Y2Fmw6k=?=", "café"},
      {"B, padding missing", "=?UTF-8?B?Y2Fmw6k?=", "café"},
      {"around text, spaces kept", "Re: =?utf-8?Q?caf=C3=A9?= ok", "Re: café ok"},
      {"space between words dropped, folds too", "=?utf-8?q?a?= \r\n\t=?utf-8?q?b?==?utf-8?q?c?=", "abc"},
      {"character split across words", "=?UTF-8?B?4oI=?=\r\n =?UTF-8?B?rA==?=", "€"},
      {"language suffix", "=?utf-8*en-US?Q?hi?=", "hi"},
      {"word touching text", "x=?utf-8?q?y?=z", "xyz"},
      {"literal space in Q", "=?utf-8?q?a b?=", "a b"},
      {"stateful charset", "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", "こんにちは"},
      {"alias x-sjis", "=?x-sjis?B?grGC8YLJgr+CzQ==?=", "こんにちは"},
      {"IANA name rewritten", "=?ansi-x3.4-1968?Q?ok?=", "ok"},
      {"empty word",
       "a=?utf-8?q?"
       "?=b",
       "ab"},
      {"'=?' in plain text", "1 =? 2 ?= 3 =?x", "1 =? 2 ?= 3 =?x"},
      {"no '?' after the encoding letter: no word", "=?utf-8?qXa?=", "=?utf-8?qXa?="},
      {"an encoded U+FFFD is no fault", "=?utf-8?q?=EF=BF=BD?=", "\xEF\xBF\xBD"},
      {"unknown charset kept", "=?x-none?q?a?= b", "=?x-none?q?a?= b (malformed)"},
      {"bad Base64 kept", "=?utf-8?b?Y2F!?=", "=?utf-8?b?Y2F!?= (malformed)"},
      {"Base64 of one digit kept", "=?utf-8?b?Y2FmQ?=", "=?utf-8?b?Y2FmQ?= (malformed)"},
      {"not closed, next word still read", "=?utf-8?q?abc =?utf-8?q?d?=", "=?utf-8?q?abc d (malformed)"},
      {"'?' inside the text", "=?utf-8?q?a?b?=", "=?utf-8?q?a?b?= (malformed)"},
      {"bad escape kept", "=?utf-8?q?a=ZZ=4?=", "a=ZZ=4 (malformed)"},
      {"spaces around a malformed word stay",
       "=?utf-8?q?a?= =?x?q?b?= =?utf-8?q?c?=", "a =?x?q?b?= c (malformed)"},
      {"octets the charset does not allow", "=?utf-8?q?=FF?=", "\xEF\xBF\xBD (malformed)"},
      {"split across charsets is not joined",
       "=?utf-8?q?=E2=82?= =?iso-8859-1?q?=AC?=", "\xEF\xBF\xBD\xC2\xAC (malformed)"},
  };
  for (const auto &[label, text, expected] : rows) EXPECT_EQ(decode(text), expected) << label;
}

TEST(EncodedWordEncode, WritesWordsOnlyWhereNeeded) {
  const std::tuple<const char *, std::string, kxInt, std::string> rows[] = {
      // label, text, fold length, expected
      {"ASCII as is", "Hello,  world\t!", 76, "Hello,  world\t!"},
      {"only the word that needs it", "Hello wörld", 76, "Hello =?UTF-8?B?d8O2cmxk?="},
      {"Q when shorter", "see wörldwide-shipping-included", 76,
       "see =?UTF-8?Q?w=C3=B6rldwide-shipping-included?="},
      {"blanks at the end go into the word", "é \t", 76, "=?UTF-8?B?w6kgCQ==?="},
      {"neighbours share a word", "a café crème b", 76, "a =?UTF-8?B?Y2Fmw6kgY3LDqG1l?= b"},
      {"B when shorter", "日本語", 76, "=?UTF-8?B?5pel5pys6Kqe?="},
      {"'=?' and controls", "a=?b c\r\nd", 76, "=?UTF-8?B?YT0/YiBjDQpk?="},
      {"DEL is no printable character", "x\x7F", 76, "=?UTF-8?Q?x=7F?="},
      {"fold before white space", "aaaaaaaaaa bbbbbbbbbb cccccccccc", 25,
       "aaaaaaaaaa\r\n bbbbbbbbbb cccccccccc"},
      {"a line filled to the fold length exactly stays", "aaaaaaaaaa bbbbb", 25, "aaaaaaaaaa bbbbb"},
      {"fold length 0 folds at every blank", "a b c", 0, "a\r\n b\r\n c"},
      {"words fill the line, then fold", "Grüße aus München", 40,
       "=?UTF-8?B?R3LDvMOfZQ==?= aus\r\n =?UTF-8?Q?M=C3=BCnchen?="},
      {"never folded", "ééééééééééééééééééééééééééé", -1,
       "=?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6k=?= "
       "=?UTF-8?B?w6nDqcOpw6nDqQ==?="},
  };
  for (const auto &[label, text, wrap, expected] : rows) {
    EXPECT_EQ(encode(text, wrap), expected) << label;
    EXPECT_EQ(decode(unfold(expected)), text) << label;
  }
}

}  // namespace
