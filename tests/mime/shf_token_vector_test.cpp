// Token vectors: the folding encoder, the tokenizer, comment removal, and the round trip between them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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
using VectorRef = kx::Ref<KX_VECTOR>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using TokenRef = kx::Ref<MIME_SHF_TOKEN>;

namespace {

constexpr kxInt kTspecial = MIME_SHF_TOKEN_TYPE_TSPECIAL;
constexpr kxInt kQuoted = MIME_SHF_TOKEN_TYPE_QUOTED_STRING;
constexpr kxInt kDomain = MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL;
constexpr kxInt kComment = MIME_SHF_TOKEN_TYPE_COMMENT;
constexpr kxInt kToken = MIME_SHF_TOKEN_TYPE_TOKEN;

struct Tok {
  kxInt type;
  std::u32string raw;
  bool operator==(const Tok &) const = default;
};

void PrintTo(const Tok &t, std::ostream *os) {
  *os << "{" << t.type << ", \"" << test_support::escapeForDisplay<char32_t>(t.raw) << "\"}";
}

// A vector of tokens classified from their raw values.
VectorRef vectorOf(const std::vector<std::u32string> &raws) {
  VectorRef vec(kxVectorCreate());
  for (const auto &raw : raws) {
    TokenRef tok(mimeShfTokenCreateRawValue(kxText(raw).get()));
    kxVectorAppendObj(vec.addr(), mimeShfTokenObj(tok.get()));
  }
  return vec;
}

std::vector<Tok> tokensOf(KX_VECTOR *vec) {
  std::vector<Tok> out;
  for (kxInt i = 0; i < kxVectorLength(vec); ++i) {
    MIME_SHF_TOKEN *tok = mimeShfTokenFrom(kxVectorBacking(vec)[i]);
    out.push_back({mimeShfTokenType(tok), takeCodePoints(mimeShfTokenRawValue(tok))});
  }
  return out;
}

OptionsRef optionsWrappingAt(kxInt wrapLineLength) {
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetWrapLineLength(mo.addr(), wrapLineLength);
  return mo;
}

std::u32string encode(KX_VECTOR *vec, kxInt wrapLineLength, kxInt firstLineOffset) {
  OptionsRef mo = optionsWrappingAt(wrapLineLength);
  return takeCodePoints(mimeShfTokenVectorEncode(vec, mo.get(), firstLineOffset));
}

// --- encoding ---

struct EncodeCase {
  const char *label;
  std::vector<std::u32string> tokens;
  kxInt wrapLineLength;
  kxInt firstLineOffset;
  std::u32string expected;
};

TEST(ShfTokenVectorEncode, SpacingGlueAndFolding) {
  const EncodeCase rows[] = {
      {"worked example: the first line may pass the threshold by a space and a token",
       {U"aaaa", U"bbbb", U"cccc", U"/", U"dd"},
       10,
       6,
       U"aaaa bbbb\r\n cccc/dd"},
      {"empty vector", {}, 10, 50, U""},
      {"empty vector without folding", {}, -1, 0, U""},
      {"parameters glue",
       {U"text", U"/", U"plain", U";", U"charset", U"=", U"us-ascii"},
       76,
       14,
       U"text/plain;charset=us-ascii"},
      {"quoted string glues", {U"a", U"=", U"\"b c\"", U";", U"d"}, 76, 0, U"a=\"b c\";d"},
      {"no folding at -1",
       {U"aaaaaaaaaa", U"bbbbbbbbbb", U"cccccccccc"},
       -1,
       1000,
       U"aaaaaaaaaa bbbbbbbbbb cccccccccc"},
      {"threshold 0: every later token on a line of its own",
       {U"a", U"b", U"/", U"c"},
       0,
       0,
       U"a\r\n b\r\n /\r\n c"},
      {"offset past the threshold folds first", {U"a", U"b"}, 5, 6, U"\r\n a b"},
      {"offset at the threshold does not fold", {U"a", U"b"}, 5, 5, U"a\r\n b"},
      {"a long token is never split", {U"x", U"0123456789abcdef", U"y"}, 4, 0, U"x 0123456789abcdef\r\n y"},
      {"no second space after a fold", {U"aaaa", U"b", U"c"}, 3, 0, U"aaaa\r\n b c"},
      {"a tspecial after a tspecial is not glued", {U"a", U"/", U"/", U"b"}, 76, 0, U"a / / b"},
      {"one pair glued, then a main token", {U"a", U"/", U"b", U"c"}, 76, 0, U"a/b c"},
      {"a comment is never glued", {U"(c)", U"a", U"/", U"b"}, 76, 0, U"(c) a/b"},
      {"a glue tspecial needs a value after it", {U"a", U";", U"(c)"}, 76, 0, U"a ; (c)"},
      {"a final tspecial stands apart", {U"a", U";"}, 76, 0, U"a ;"},
      {"a tspecial as the main token", {U";", U"a"}, 76, 0, U"; a"},
      {"angle brackets never glue", {U"a", U"<", U"b", U">"}, 76, 0, U"a < b >"},
      {"domain literal and comment stand apart", {U"[x]", U"/", U"a", U"(y)"}, 76, 0, U"[x] / a (y)"},
      {"glue after a quoted string", {U"\"q\"", U"@", U"d"}, 76, 0, U"\"q\"@d"},
      {"every glue tspecial",
       {U"a", U"@", U"b", U",", U"c", U";", U"d", U":", U"e", U"\\", U"f", U"/", U"g", U"?", U"h", U"=",
        U"i"},
       -1,
       0,
       U"a@b,c;d:e\\f/g?h=i"},
      {"a fold may fall before a glued tspecial",
       {U"abcdef", U"/", U"gh", U";", U"ij"},
       5,
       0,
       U"abcdef\r\n /gh;ij"},
      {"a fold may fall before a glued value",
       {U"abcdef", U"/", U"gh", U";", U"ij"},
       6,
       0,
       U"abcdef/\r\n gh;ij"},
      {"CR LF inside a quoted string counts as characters",
       {U"\"a\\\rb\"", U"c", U"d"},
       6,
       0,
       U"\"a\\\rb\" c\r\n d"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    VectorRef vec = vectorOf(row.tokens);
    EXPECT_TRUE(exactlyEqual(encode(vec.get(), row.wrapLineLength, row.firstLineOffset), row.expected));
  }
}

TEST(ShfTokenVectorEncode, DefaultOptionsFoldAt76) {
  std::vector<std::u32string> words(20, U"word");
  VectorRef vec = vectorOf(words);
  OptionsRef mo(mimeOptionsCreate());
  const std::u32string out = takeCodePoints(mimeShfTokenVectorEncode(vec.get(), mo.get(), 14));
  // 14 + 4 = 18, then 5 per word: the first line passes 76 after 13 words (14 + 4 + 12 * 5 = 78).
  EXPECT_EQ(out.find(U"\r\n "), 4 + 12 * 5u);
}

TEST(ShfTokenVectorEncode, AppendStepFollowsTheFoldRule) {
  test_support::StringRef out(kxStringCreate());
  kxInt line = 3;
  mime___ShfTokenVectorAppend(out.addr(), kxText(U"ab").get(), 1, &line, 4);
  EXPECT_EQ(line, 6);
  mime___ShfTokenVectorAppend(out.addr(), kxText(U"cd").get(), 1, &line, 4);
  EXPECT_EQ(line, 3);
  mime___ShfTokenVectorAppend(out.addr(), kxText(U"e").get(), 0, &line, -1);
  EXPECT_EQ(line, 4);
  EXPECT_TRUE(exactlyEqual(test_support::codePoints(out.get()), U" ab\r\n cde"));
}

// Spaces and folds fall only between tokens, so the tokenizer reads back what the creators made.
TEST(ShfTokenVectorEncode, RandomVectorsRoundTripThroughTheTokenizer) {
  test_support::DeterministicRandom random(0x6d696d65);
  const char32_t textAlphabet[] = {U'a',  U'b',  U'Z',  U'7', U'-',      U'.',         U' ', U'\t',
                                   U'\r', U'\n', U'\0', U'"', U'\\',     U'(',         U')', U'[',
                                   U']',  U'/',  U';',  U'=', U'\u00FC', U'\U0010FFFF'};
  const char32_t tokenAlphabet[] = {U'a', U'x', U'9', U'-', U'.', U'!', U'~', U'\u00E9', 0xDC00};
  // Every tspecial but the three that would open a delimited token when read back.
  const char32_t tspecials[] = {U')', U'<', U'>', U'@', U',', U';', U':', U'\\', U'/', U']', U'?', U'='};
  const kxInt thresholds[] = {-1, 0, 1, 2, 3, 5, 8, 13, 76};
  for (int round = 0; round < 3000; ++round) {
    VectorRef vec(kxVectorCreate());
    std::vector<Tok> expected;
    for (int n = static_cast<int>(random.range(0, 12)); n > 0; --n) {
      std::u32string text;
      for (int k = static_cast<int>(random.range(0, 6)); k > 0; --k) text += random.pick(textAlphabet);
      TokenRef tok;
      switch (random.range(0, 3)) {
        case 0:
          tok.reset(mimeShfTokenCreateTokenOrQuotedString(kxText(text).get()));
          break;
        case 1:
          tok.reset(mimeShfTokenCreateComment(kxText(text).get()));
          break;
        case 2:
          tok.reset(mimeShfTokenCreateTspecial(random.pick(tspecials)));
          break;
        default: {
          std::u32string bare(1, random.pick(tokenAlphabet));
          for (int k = static_cast<int>(random.range(0, 5)); k > 0; --k) bare += random.pick(tokenAlphabet);
          tok.reset(mimeShfTokenCreateRawValue(kxText(bare).get()));
        }
      }
      kxVectorAppendObj(vec.addr(), mimeShfTokenObj(tok.get()));
      expected.push_back({mimeShfTokenType(tok.get()), takeCodePoints(mimeShfTokenRawValue(tok.get()))});
    }
    const kxInt threshold = random.pick(thresholds);
    const kxInt offset = random.range(0, 90);
    const std::u32string text = encode(vec.get(), threshold, offset);
    VectorRef back(mimeShfTokenVectorTryDecode(kxText(text).get()));
    ASSERT_TRUE(back) << "round " << round << ": " << test_support::escapeForDisplay<char32_t>(text);
    ASSERT_EQ(tokensOf(back.get()), expected)
        << "round " << round << " threshold " << threshold << " offset " << offset << ": "
        << test_support::escapeForDisplay<char32_t>(text);
  }
}

// --- decoding ---

struct DecodeCase {
  const char *label;
  std::u32string input;
  std::vector<Tok> expected;
};

TEST(ShfTokenVectorTryDecode, CutsValuesIntoTokens) {
  const DecodeCase rows[] = {
      {"empty", U"", {}},
      {"only white space and line breaks", U" \t\r\n \r\n\t", {}},
      {"one token", U"7bit", {{kToken, U"7bit"}}},
      {"token and comment", U" 7bit (comment) ", {{kToken, U"7bit"}, {kComment, U"(comment)"}}},
      {"content type",
       U"text/plain; charset=\"us-ascii\"",
       {{kToken, U"text"},
        {kTspecial, U"/"},
        {kToken, U"plain"},
        {kTspecial, U";"},
        {kToken, U"charset"},
        {kTspecial, U"="},
        {kQuoted, U"\"us-ascii\""}}},
      {"a run ends at a tspecial", U"a(b)c", {{kToken, U"a"}, {kComment, U"(b)"}, {kToken, U"c"}}},
      {"nested comment", U"(a (b) c)", {{kComment, U"(a (b) c)"}}},
      {"escaped parenthesis in a comment", U"(a \\) b)", {{kComment, U"(a \\) b)"}}},
      {"parentheses in a quoted string are ordinary", U"\"(a\"", {{kQuoted, U"\"(a\""}}},
      {"escaped quotation mark", U"\"a\\\"b\"", {{kQuoted, U"\"a\\\"b\""}}},
      {"fold inside a quoted string stays", U"\"a\r\n b\"", {{kQuoted, U"\"a\r\n b\""}}},
      {"fold with HTAB inside a comment", U"(a\r\n\tb)", {{kComment, U"(a\r\n\tb)"}}},
      {"bare LF inside a quoted string", U"\"a\nb\"", {{kQuoted, U"\"a\nb\""}}},
      {"domain literal", U"[a b]", {{kDomain, U"[a b]"}}},
      {"escaped bracket in a domain literal", U"[a\\]b]", {{kDomain, U"[a\\]b]"}}},
      {"stray closing parenthesis", U")", {{kTspecial, U")"}}},
      {"stray closing bracket", U"]", {{kTspecial, U"]"}}},
      {"adjacent tspecials", U"a;;b", {{kToken, U"a"}, {kTspecial, U";"}, {kTspecial, U";"}, {kToken, U"b"}}},
      {"NUL ends a run and is dropped", std::u32string(U"7bit\0", 5), {{kToken, U"7bit"}}},
      {"DEL and stray CR between tokens", U"a\x7F\rb\n", {{kToken, U"a"}, {kToken, U"b"}}},
      {"non-ASCII belongs to runs",
       U"\u00E9t\u00E9/\U0010FFFF\xD800",
       {{kToken, U"\u00E9t\u00E9"}, {kTspecial, U"/"}, {kToken, U"\U0010FFFF\xD800"}}},
      {"escaped CR inside a quoted string", U"\"a\\\r\"", {{kQuoted, U"\"a\\\r\""}}},
      {"escaped last-but-one character", U"\"\\\\\"", {{kQuoted, U"\"\\\\\""}}},
      {"quotation mark inside a domain literal", U"[\"]", {{kDomain, U"[\"]"}}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    VectorRef vec(mimeShfTokenVectorTryDecode(kxText(row.input).get()));
    ASSERT_TRUE(vec);
    EXPECT_EQ(tokensOf(vec.get()), row.expected);
  }
}

TEST(ShfTokenVectorTryDecode, MalformedTextGivesNull) {
  const std::pair<const char *, std::u32string> rows[] = {
      {"unterminated comment", U"(a (b)"},
      {"quotation marks do not protect parentheses in a comment", U"(a \"(\" b)"},
      {"unterminated quoted string", U"\"abc"},
      {"backslash at the end of a quoted string", U"\"abc\\"},
      {"opening quotation mark last", U"a \""},
      {"opening parenthesis last", U"a ("},
      {"opening bracket last", U"["},
      {"CR LF and a letter", U"\"a\r\nb\""},
      {"CR at the very end", U"\"a\r"},
      {"CR LF at the very end", U"\"a\r\n"},
      {"CR without LF", U"(a\r b)"},
      {"bracket inside a domain literal", U"[a[b]"},
      {"unterminated domain literal", U"[abc"},
      {"malformed after good tokens", U"text/plain; a=\"b"},
  };
  for (const auto &[label, input] : rows) {
    VectorRef vec(mimeShfTokenVectorTryDecode(kxText(input).get()));
    EXPECT_FALSE(vec) << label;
  }
}

TEST(ShfTokenVectorTryDecode, DeepNestingIsIterative) {
  const size_t depth = 100000;
  const std::u32string nested = std::u32string(depth, U'(') + U"x" + std::u32string(depth, U')');
  VectorRef vec(mimeShfTokenVectorTryDecode(kxText(nested).get()));
  ASSERT_TRUE(vec);
  ASSERT_EQ(kxVectorLength(vec.get()), 1);
  EXPECT_EQ(mimeShfTokenType(mimeShfTokenFrom(kxVectorBacking(vec.get())[0])), kComment);
  const std::u32string unclosed = std::u32string(depth, U'(') + std::u32string(depth - 1, U')');
  EXPECT_FALSE(VectorRef(mimeShfTokenVectorTryDecode(kxText(unclosed).get())));
}

// Hostile input must never abort: any code point, anywhere, gives a vector or null.
TEST(ShfTokenVectorTryDecode, RandomCodePointsNeverAbort) {
  test_support::DeterministicRandom random(42);
  const char32_t alphabet[] = {U'a',    U' ',      U'\t',  U'\r',  U'\n',        U'\0', U'"',
                               U'\\',   U'(',      U')',   U'[',   U']',         U';',  U'=',
                               U'\x7F', U'\u0085', 0xD800, 0xDFFF, U'\U0010FFFF'};
  size_t accepted = 0;
  for (int round = 0; round < 5000; ++round) {
    std::u32string text;
    for (int n = static_cast<int>(random.range(0, 24)); n > 0; --n)
      text += random.chance(3) ? static_cast<char32_t>(random.next()) : random.pick(alphabet);
    VectorRef vec(mimeShfTokenVectorTryDecode(kxText(text).get()));
    if (!vec) continue;
    ++accepted;
    // Whatever is accepted consists of raw values copied from the input, in order.
    size_t at = 0;
    for (const Tok &t : tokensOf(vec.get())) {
      at = text.find(t.raw, at);
      ASSERT_NE(at, std::u32string::npos) << "round " << round;
      at += t.raw.size();
    }
  }
  EXPECT_GT(accepted, 100u);
}

// --- removing comments ---

TEST(ShfTokenVectorDelComments, RemovesCommentsAndKeepsTheOrder) {
  const DecodeCase rows[] = {
      {"one comment", U" 7bit (comment) ", {{kToken, U"7bit"}}},
      {"comments everywhere",
       U"(a) text (b)/(c) plain (d)(e)",
       {{kToken, U"text"}, {kTspecial, U"/"}, {kToken, U"plain"}}},
      {"only comments", U"(a)(b) (c)", {}},
      {"no comments", U"a;b", {{kToken, U"a"}, {kTspecial, U";"}, {kToken, U"b"}}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    VectorRef vec(mimeShfTokenVectorTryDecode(kxText(row.input).get()));
    ASSERT_TRUE(vec);
    mimeShfTokenVectorDelComments(vec.addr());
    EXPECT_EQ(tokensOf(vec.get()), row.expected);
  }
}

TEST(ShfTokenVectorDelComments, ASharedVectorIsLeftToItsOtherHolders) {
  VectorRef mine = vectorOf({U"a", U"(b)", U"c"});
  VectorRef theirs(reinterpret_cast<KX_VECTOR *>(kxObjRetain(kxVectorObj(mine.get()))));
  mimeShfTokenVectorDelComments(mine.addr());
  EXPECT_NE(mine.get(), theirs.get());
  EXPECT_EQ(kxVectorLength(theirs.get()), 3);
  EXPECT_EQ(kxVectorLength(mine.get()), 2);
  EXPECT_EQ(kx___ObjRefCount(kxVectorObj(theirs.get())), 1);
  // The kept tokens are the same objects, not copies.
  EXPECT_EQ(kxVectorBacking(mine.get())[1], kxVectorBacking(theirs.get())[2]);
}

TEST(ShfTokenVectorDelComments, WithoutCommentsTheVectorStaysTheSameObject) {
  VectorRef vec = vectorOf({U"a", U"/", U"b"});
  KX_VECTOR *before = vec.get();
  mimeShfTokenVectorDelComments(vec.addr());
  EXPECT_EQ(vec.get(), before);
}

// 100,000 comments between 100,001 tokens: one pass, not one shift of the tail per comment.
TEST(ShfTokenVectorDelComments, ManyCommentsInOnePass) {
  std::u32string text;
  for (int i = 0; i < 100000; ++i) text += U"t(c)";
  text += U"t";
  VectorRef vec(mimeShfTokenVectorTryDecode(kxText(text).get()));
  ASSERT_TRUE(vec);
  ASSERT_EQ(kxVectorLength(vec.get()), 200001);
  mimeShfTokenVectorDelComments(vec.addr());
  ASSERT_EQ(kxVectorLength(vec.get()), 100001);
  for (kxInt i = 0; i < kxVectorLength(vec.get()); ++i)
    ASSERT_EQ(mimeShfTokenType(mimeShfTokenFrom(kxVectorBacking(vec.get())[i])), kToken) << i;
}

// --- contract aborts ---

struct VectorAbort {
  const char *label;
  std::function<void()> call;
  const char *abortLabel;
  const char *expression;
};

TEST(ShfTokenVectorDeathTest, PreconditionsAbortWithTheirExpression) {
  const VectorAbort rows[] = {
      {"encode null vector",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeShfTokenVectorEncode(nullptr, mo, 0);
       },
       "", "vec"},
      {"encode null options",
       [] {
         KX_VECTOR *vec = kxVectorCreate();
         mimeShfTokenVectorEncode(vec, nullptr, 0);
       },
       "", "mo"},
      {"encode a vector holding a string",
       [] {
         KX_VECTOR *vec = kxVectorCreate();
         kxVectorAppendObj(&vec, kxStringObj(kxStringCreateFromCstr("a", -1)));
         mimeShfTokenVectorEncode(vec, mimeOptionsCreate(), 0);
       },
       "", "kxVectorContainsOnly( vec, mimeShfTokenSort() )"},
      {"encode with a negative offset",
       [] { mimeShfTokenVectorEncode(kxVectorCreate(), mimeOptionsCreate(), -1); }, "",
       "firstLineOffset >= 0"},
      {"line length overflow",
       [] {
         KX_VECTOR *vec = kxVectorCreate();
         kxVectorAppendObj(&vec, mimeShfTokenObj(mimeShfTokenCreateTspecial('/')));
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsSetWrapLineLength(&mo, -1);
         mimeShfTokenVectorEncode(vec, mo, KX_INT_MAX);
       },
       "", "KX_INT_ADD_OK( *curLineLength, appendLength + !!space )"},
      {"append with a negative line length",
       [] {
         KX_STRING *out = kxStringCreate();
         kxInt line = -1;
         mime___ShfTokenVectorAppend(&out, out, 0, &line, 0);
       },
       "", "*curLineLength >= 0"},
      {"append with a threshold below -1",
       [] {
         KX_STRING *out = kxStringCreate();
         kxInt line = 0;
         mime___ShfTokenVectorAppend(&out, out, 0, &line, -2);
       },
       "", "wrapLineLength >= -1"},
      {"append to a null string",
       [] {
         KX_STRING *out = nullptr;
         kxInt line = 0;
         mime___ShfTokenVectorAppend(&out, kxStringCreate(), 0, &line, 0);
       },
       "", "*out"},
      {"append null text",
       [] {
         KX_STRING *out = kxStringCreate();
         kxInt line = 0;
         mime___ShfTokenVectorAppend(&out, nullptr, 0, &line, 0);
       },
       "", "append"},
      {"decode null", [] { mimeShfTokenVectorTryDecode(nullptr); }, "", "string"},
      {"delete comments at a null address", [] { mimeShfTokenVectorDelComments(nullptr); }, "", "vec"},
      {"delete comments of a null vector",
       [] {
         KX_VECTOR *vec = nullptr;
         mimeShfTokenVectorDelComments(&vec);
       },
       "", "*vec"},
      {"delete comments in a vector holding a string",
       [] {
         KX_VECTOR *vec = kxVectorCreate();
         kxVectorAppendObj(&vec, kxStringObj(kxStringCreateFromCstr("a", -1)));
         mimeShfTokenVectorDelComments(&vec);
       },
       "stdfunc from", "!obj || kxObjSort(obj)==&mime___sort_MIME_SHF_TOKEN"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_DEATH(row.call(), abortText(row.abortLabel, row.expression));
  }
}

}  // namespace
