// MIME_SHF_TOKEN: creation from plain text, classification of raw header text, and the plain value.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kx/kx.h"
#include "mime/mime.h"
#include "support/death_text.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"
#include "support/kx_text.hpp"

using test_support::abortText;
using test_support::exactlyEqual;
using test_support::kxText;
using test_support::takeCodePoints;
using TokenRef = kx::Ref<MIME_SHF_TOKEN>;

namespace {

constexpr kxInt kTspecial = MIME_SHF_TOKEN_TYPE_TSPECIAL;
constexpr kxInt kQuoted = MIME_SHF_TOKEN_TYPE_QUOTED_STRING;
constexpr kxInt kDomain = MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL;
constexpr kxInt kComment = MIME_SHF_TOKEN_TYPE_COMMENT;
constexpr kxInt kToken = MIME_SHF_TOKEN_TYPE_TOKEN;

std::u32string rawOf(MIME_SHF_TOKEN *tok) {
  return takeCodePoints(mimeShfTokenRawValue(tok));
}
std::u32string valueOf(MIME_SHF_TOKEN *tok) {
  return takeCodePoints(mimeShfTokenValue(tok));
}

struct CreateCase {
  const char *label;
  std::u32string input;
  std::u32string raw;
  kxInt type;
};

TEST(ShfToken, TokenOrQuotedStringQuotesExactlyWhatCannotStandBare) {
  const CreateCase rows[] = {
      {"plain token", U"text", U"text", kToken},
      {"non-ASCII letters stay bare", U"\u00C4\u00F6\u20AC", U"\u00C4\u00F6\u20AC", kToken},
      {"lone surrogate is a token character", U"a\xD800", U"a\xD800", kToken},
      {"empty", U"", U"\"\"", kQuoted},
      {"space", U"a b", U"\"a b\"", kQuoted},
      {"one tspecial is quoted, not a tspecial token", U"/", U"\"/\"", kQuoted},
      {"tspecial inside", U"a/b", U"\"a/b\"", kQuoted},
      {"quotation marks escaped", U"say \"hi\"", U"\"say \\\"hi\\\"\"", kQuoted},
      {"backslash escaped", U"a\\b", U"\"a\\\\b\"", kQuoted},
      {"CR escaped, LF not", U"a\r\nb", U"\"a\\\r\nb\"", kQuoted},
      {"other tspecials and HTAB unescaped", U"(x)\t[y]", U"\"(x)\t[y]\"", kQuoted},
      {"NUL and DEL unescaped", std::u32string(U"a\0b\x7F", 4), std::u32string(U"\"a\0b\x7F\"", 6), kQuoted},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    TokenRef tok(mimeShfTokenCreateTokenOrQuotedString(kxText(row.input).get()));
    EXPECT_EQ(mimeShfTokenType(tok.get()), row.type);
    EXPECT_TRUE(exactlyEqual(rawOf(tok.get()), row.raw));
    EXPECT_TRUE(exactlyEqual(valueOf(tok.get()), row.input));  // the plain value gives the input back
  }
}

TEST(ShfToken, CommentEscapesCrLfAndEveryTspecial) {
  const CreateCase rows[] = {
      {"empty", U"", U"()", kComment},
      {"parentheses", U"a(b)", U"(a\\(b\\))", kComment},
      {"all tspecials", U"()<>@,;:\\\"/[]?=", U"(\\(\\)\\<\\>\\@\\,\\;\\:\\\\\\\"\\/\\[\\]\\?\\=)", kComment},
      {"CR LF escaped, SP and HTAB not", U"a\r\n b\t", U"(a\\\r\\\n b\t)", kComment},
      {"non-ASCII as is", U"\u00E9t\u00E9", U"(\u00E9t\u00E9)", kComment},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    TokenRef tok(mimeShfTokenCreateComment(kxText(row.input).get()));
    EXPECT_EQ(mimeShfTokenType(tok.get()), row.type);
    EXPECT_TRUE(exactlyEqual(rawOf(tok.get()), row.raw));
    EXPECT_TRUE(exactlyEqual(valueOf(tok.get()), row.input));
  }
}

TEST(ShfToken, TspecialTokenHoldsTheOneCharacter) {
  for (char c : std::string("()<>@,;:\\\"/[]?=")) {
    TokenRef tok(mimeShfTokenCreateTspecial(static_cast<kxChar>(c)));
    EXPECT_EQ(mimeShfTokenType(tok.get()), kTspecial);
    EXPECT_EQ(rawOf(tok.get()), std::u32string(1, static_cast<char32_t>(c)));
  }
}

TEST(ShfToken, CstrAndWcstrFormsMatchTheStringForm) {
  TokenRef a(mimeShfTokenCreateTokenOrQuotedStringCstr("a b\xC3\xA9", -1));
  TokenRef b(mimeShfTokenCreateTokenOrQuotedStringWcstr(L"a b\u00E9", -1));
  EXPECT_EQ(rawOf(a.get()), U"\"a b\u00E9\"");
  EXPECT_EQ(rawOf(b.get()), U"\"a b\u00E9\"");
  TokenRef c(mimeShfTokenCreateCommentCstr("x)y", 2));  // the length cuts before 'y'
  EXPECT_EQ(rawOf(c.get()), U"(x\\))");
  TokenRef d(mimeShfTokenCreateRawValueWcstr(L"[a]", -1));
  EXPECT_EQ(mimeShfTokenType(d.get()), kDomain);
  TokenRef e(mimeShfTokenCreateRawValueCstr("\"q\"", -1));
  EXPECT_EQ(mimeShfTokenType(e.get()), kQuoted);
}

struct ClassifyCase {
  const char *label;
  std::u32string raw;
  kxInt type;
  std::u32string value;
};

TEST(ShfToken, RawValueIsClassifiedByItsShapeAndUnescaped) {
  const ClassifyCase rows[] = {
      {"empty quoted string", U"\"\"", kQuoted, U""},
      {"empty domain literal", U"[]", kDomain, U""},
      {"empty comment", U"()", kComment, U""},
      {"tspecial", U";", kTspecial, U";"},
      {"token", U"abc", kToken, U"abc"},
      {"nested comment", U"(a(b)c)", kComment, U"a(b)c"},
      {"comment keeps nested parentheses", U"(x (y) z)", kComment, U"x (y) z"},
      {"escaped quotation mark", U"\"a\\\"b\"", kQuoted, U"a\"b"},
      {"escaped backslash before the closing mark", U"\"a\\\\\"", kQuoted, U"a\\"},
      {"escaped bracket", U"[a\\]b]", kDomain, U"a]b"},
      {"escaped parenthesis", U"(a \\) b)", kComment, U"a ) b"},
      {"parenthesis inside a quoted string", U"\"(a\"", kQuoted, U"(a"},
      {"quotation mark inside a comment", U"(\")", kComment, U"\""},
      {"fold inside a quoted string stays", U"\"a\r\n b\"", kQuoted, U"a\r\n b"},
      {"controls and non-ASCII inside", std::u32string(U"\"\0\x7F\u20AC\xDFFF\"", 6), kQuoted,
       std::u32string(U"\0\x7F\u20AC\xDFFF", 4)},
      {"escape of any character", U"\"\\a\\\r\"", kQuoted, U"a\r"},
      {"U+10FFFF token", U"\U0010FFFF", kToken, U"\U0010FFFF"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    test_support::StringRef raw = kxText(row.raw);
    TokenRef tok(mimeShfTokenCreateRawValue(raw.get()));
    EXPECT_EQ(mimeShfTokenType(tok.get()), row.type);
    EXPECT_TRUE(exactlyEqual(valueOf(tok.get()), row.value));
    test_support::StringRef kept(mimeShfTokenRawValue(tok.get()));
    EXPECT_EQ(kept.get(), raw.get());  // the token keeps the given string itself
  }
}

TEST(ShfToken, PlainValueOfABareTokenIsTheSameStringObject) {
  for (const char *raw : {"abc", "="}) {
    TokenRef tok(mimeShfTokenCreateRawValueCstr(raw, -1));
    test_support::StringRef rawValue(mimeShfTokenRawValue(tok.get()));
    test_support::StringRef value(mimeShfTokenValue(tok.get()));
    EXPECT_EQ(value.get(), rawValue.get()) << raw;
  }
}

// Whatever text a creator is given, its plain value gives the text back.
TEST(ShfToken, CreatorsRoundTripRandomTextThroughThePlainValue) {
  test_support::DeterministicRandom random(20261206);
  const char32_t alphabet[] = {U'a',    U'Z', U'0',  U' ',      U'\t',         U'\r', U'\n', U'\0',
                               U'\x7F', U'"', U'\\', U'(',      U')',          U'[',  U']',  U'<',
                               U'/',    U';', U'=',  U'\u00E9', U'\U0010FFFF', 0xD800};
  for (int round = 0; round < 2000; ++round) {
    std::u32string text;
    for (int n = static_cast<int>(random.range(0, 12)); n > 0; --n) text += random.pick(alphabet);
    TokenRef quoted(mimeShfTokenCreateTokenOrQuotedString(kxText(text).get()));
    TokenRef comment(mimeShfTokenCreateComment(kxText(text).get()));
    ASSERT_TRUE(exactlyEqual(valueOf(quoted.get()), text)) << "round " << round;
    ASSERT_TRUE(exactlyEqual(valueOf(comment.get()), text)) << "round " << round;
    // The raw values are header syntax: classifying them again gives the same type.
    TokenRef again(mimeShfTokenCreateRawValue(kxText(rawOf(quoted.get())).get()));
    ASSERT_EQ(mimeShfTokenType(again.get()), mimeShfTokenType(quoted.get())) << "round " << round;
    TokenRef againComment(mimeShfTokenCreateRawValue(kxText(rawOf(comment.get())).get()));
    ASSERT_EQ(mimeShfTokenType(againComment.get()), kComment) << "round " << round;
  }
}

// --- contract aborts ---

TEST(ShfTokenDeathTest, RawValuesThatFitNoShapeAbortWithoutExpression) {
  const std::u32string rows[] = {
      U"",          // empty
      U"a b",       // space outside delimiters
      U";;",        // two tspecials
      U"\"a\\\"",   // the backslash would escape the closing mark
      U"\"a\"b\"",  // unescaped quotation mark inside
      U"(a))",      // unbalanced
      U"((a)",      // unclosed nesting
      U"[a[b]",     // unescaped bracket inside a domain literal
      U"\"abc",     // no closing mark
      U"a\tb",      // control character in a token
      std::u32string(U"\0", 1),
  };
  for (const auto &raw : rows) {
    SCOPED_TRACE(test_support::escapeForDisplay<char32_t>(raw));
    EXPECT_DEATH(mimeShfTokenCreateRawValue(kxText(raw).get()), test_support::abortWithoutExpression());
  }
}

struct TokenAbort {
  const char *label;
  std::function<void()> call;
  const char *expression;
};

TEST(ShfTokenDeathTest, PreconditionsAbortWithTheirExpression) {
  const TokenAbort rows[] = {
      {"not a tspecial", [] { mimeShfTokenCreateTspecial('a'); }, "mime___CharIsTspecial( tspecial )"},
      {"space is no tspecial", [] { mimeShfTokenCreateTspecial(' '); }, "mime___CharIsTspecial( tspecial )"},
      {"null token text", [] { mimeShfTokenCreateTokenOrQuotedString(nullptr); }, "tokenOrQuotedString"},
      {"null comment", [] { mimeShfTokenCreateComment(nullptr); }, "comment"},
      {"null raw value", [] { mimeShfTokenCreateRawValue(nullptr); }, "rawValue"},
      {"type of null", [] { mimeShfTokenType(nullptr); }, "tok"},
      {"raw value of null", [] { mimeShfTokenRawValue(nullptr); }, "tok"},
      {"value of null", [] { mimeShfTokenValue(nullptr); }, "tok"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_DEATH(row.call(), abortText("", row.expression));
  }
}

}  // namespace
