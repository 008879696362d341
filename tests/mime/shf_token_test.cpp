// MIME_SHF_TOKEN: creation from plain text, classification of raw header text, and the plain value.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using TokenRef = kx::Ref<MIME_SHF_TOKEN>;

std::u32string rawOf(MIME_SHF_TOKEN *tok) {
  return takeCodePoints(mimeShfTokenRawValue(tok));
}

std::u32string valueOf(MIME_SHF_TOKEN *tok) {
  return takeCodePoints(mimeShfTokenValue(tok));
}

kxInt typeOf(MIME_SHF_TOKEN *tok) {
  return mimeShfTokenType(tok);
}

// The raw value a creator writes; its type is checked against reading that raw value back.
TEST(ShfToken, CreatorsQuoteOrEscapeExactlyWhatCannotStandAsItIs) {
  const auto quoted = mimeShfTokenCreateTokenOrQuotedString;
  const auto comment = mimeShfTokenCreateComment;
  const std::tuple<const char *, MIME_SHF_TOKEN *(*)(KX_STRING *), std::u32string, std::u32string> rows[] = {
      {"plain token", quoted, U"text", U"text"},
      {"non-ASCII, lone surrogate", quoted, U"\u00C4\u20AC\xD800", U"\u00C4\u20AC\xD800"},
      {"empty", quoted, U"", U"\"\""},
      {"space", quoted, U"a b", U"\"a b\""},
      {"one tspecial is quoted", quoted, U"/", U"\"/\""},
      {"quotation mark, backslash", quoted, U"say \"\\\"", U"\"say \\\"\\\\\\\"\""},
      {"CR escaped, LF not", quoted, U"a\r\nb", U"\"a\\\r\nb\""},
      {"others unescaped", quoted, std::u32string(U"(x)\t[\0\x7F", 7),
       std::u32string(U"\"(x)\t[\0\x7F\"", 9)},
      {"empty comment", comment, U"", U"()"},
      {"every tspecial", comment, U"()<>@,;:\\\"/[]?=", U"(\\(\\)\\<\\>\\@\\,\\;\\:\\\\\\\"\\/\\[\\]\\?\\=)"},
      {"CR LF in a comment", comment, U"a\r\n b\t\u00E9", U"(a\\\r\\\n b\t\u00E9)"},
  };
  for (const auto &[label, create, input, raw] : rows) {
    SCOPED_TRACE(label);
    TokenRef tok(create(kxText(input).get()));
    EXPECT_TRUE(exactlyEqual(rawOf(tok.get()), raw));
    EXPECT_TRUE(exactlyEqual(valueOf(tok.get()), input));  // the plain value gives the input back
    EXPECT_EQ(typeOf(tok.get()), typeOf(TokenRef(mimeShfTokenCreateRawValue(kxText(raw).get())).get()));
  }
  TokenRef semicolon(mimeShfTokenCreateTspecial(';'));
  EXPECT_EQ(typeOf(semicolon.get()), MIME_SHF_TOKEN_TYPE_TSPECIAL);
  EXPECT_EQ(rawOf(semicolon.get()), U";");
  // The C-string and wide-string forms honour their lengths.
  EXPECT_EQ(rawOf(TokenRef(mimeShfTokenCreateTokenOrQuotedStringCstr("a b\xC3\xA9", -1)).get()),
            U"\"a b\u00E9\"");
  EXPECT_EQ(rawOf(TokenRef(mimeShfTokenCreateTokenOrQuotedStringWcstr(L"a b\u00E9", 2)).get()), U"\"a \"");
  EXPECT_EQ(rawOf(TokenRef(mimeShfTokenCreateCommentCstr("x)y", 2)).get()), U"(x\\))");
  EXPECT_EQ(rawOf(TokenRef(mimeShfTokenCreateRawValueWcstr(L"[a]x", 3)).get()), U"[a]");
}

TEST(ShfToken, RawValueIsClassifiedByItsShapeAndUnescaped) {
  const std::tuple<std::u32string, kxInt, std::u32string> rows[] = {
      // raw value, type, plain value
      {U"\"\"", MIME_SHF_TOKEN_TYPE_QUOTED_STRING, U""},
      {U"[]", MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL, U""},
      {U";", MIME_SHF_TOKEN_TYPE_TSPECIAL, U";"},
      {U"\U0010FFFF-x", MIME_SHF_TOKEN_TYPE_TOKEN, U"\U0010FFFF-x"},
      {U"(x (y) \\) z)", MIME_SHF_TOKEN_TYPE_COMMENT, U"x (y) ) z"},
      {U"(\")", MIME_SHF_TOKEN_TYPE_COMMENT, U"\""},
      {U"\"a\\\"b\\\\\"", MIME_SHF_TOKEN_TYPE_QUOTED_STRING, U"a\"b\\"},
      {U"[a\\]b]", MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL, U"a]b"},
      {U"\"(a\"", MIME_SHF_TOKEN_TYPE_QUOTED_STRING, U"(a"},
      {U"\"a\r\n b\"", MIME_SHF_TOKEN_TYPE_QUOTED_STRING, U"a\r\n b"},  // a fold inside stays
      {std::u32string(U"\"\\a\\\r\0\x7F\"", 8), MIME_SHF_TOKEN_TYPE_QUOTED_STRING,
       std::u32string(U"a\r\0\x7F", 4)},
  };
  for (const auto &[text, type, value] : rows) {
    SCOPED_TRACE(test_support::escapeForDisplay<char32_t>(text));
    StringRef raw = kxText(text);
    TokenRef tok(mimeShfTokenCreateRawValue(raw.get()));
    EXPECT_EQ(typeOf(tok.get()), type);
    EXPECT_TRUE(exactlyEqual(valueOf(tok.get()), value));
    EXPECT_EQ(StringRef(mimeShfTokenRawValue(tok.get())).get(), raw.get());  // kept, not copied
  }
}

TEST(ShfTokenDeathTest, RawValuesThatFitNoShapeAbortWithoutExpression) {
  // Empty, a space outside delimiters, two tspecials, an escaped closing mark, unbalanced parentheses, an
  // unescaped bracket in a domain literal, a control character in a token.
  for (const std::u32string raw : {U"", U"a b", U";;", U"\"a\\\"", U"(a))", U"[a[b]", U"a\tb"}) {
    EXPECT_DEATH(mimeShfTokenCreateRawValue(kxText(raw).get()), test_support::abortWithoutExpression())
        << test_support::escapeForDisplay<char32_t>(raw);
  }
}

}  // namespace
