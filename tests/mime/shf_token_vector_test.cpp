// Token vectors: the folding encoder, the tokenizer, comment removal, and the round trip between them.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using TokenRef = kx::Ref<MIME_SHF_TOKEN>;

// A vector of tokens classified from raw values written "raw|raw|...".
VectorRef tokenVector(std::u32string_view raws) {
  VectorRef vec(kxVectorCreate());
  for (size_t at = 0; at < raws.size();) {
    const size_t end = std::min(raws.find(U'|', at), raws.size());
    TokenRef tok(mimeShfTokenCreateRawValue(kxText(raws.substr(at, end - at)).get()));
    kxVectorAppendObj(vec.addr(), mimeShfTokenObj(tok.get()));
    at = end + 1;
  }
  return vec;
}

// The tokens as "<type letter><raw>|...": T token, S tspecial, Q quoted string, D domain literal, C comment.
std::string tokensOf(KX_VECTOR *vec) {
  std::string out;
  for (kxInt i = 0; i < kxVectorLength(vec); ++i) {
    MIME_SHF_TOKEN *tok = mimeShfTokenFrom(kxVectorBacking(vec)[i]);
    out += (i ? "|" : "") + std::string(1, "SQDCT"[mimeShfTokenType(tok)]) +
           escapeForDisplay<char32_t>(takeCodePoints(mimeShfTokenRawValue(tok)));
  }
  return out;
}

std::string decode(std::u32string_view text) {
  VectorRef vec(mimeShfTokenVectorTryDecode(kxText(text).get()));
  return vec ? tokensOf(vec.get()) : "<null>";
}

std::u32string encode(KX_VECTOR *vec, kxInt wrapLineLength, kxInt firstLineOffset) {
  return takeCodePoints(mimeShfTokenVectorEncode(vec, options(3, wrapLineLength).get(), firstLineOffset));
}

// --- encoding ---

TEST(ShfTokenVectorEncode, SpacingGlueAndFolding) {
  const std::tuple<const char *, std::u32string, kxInt, kxInt, std::u32string> rows[] = {
      // label, raw values, fold length, first line offset, expected
      {"worked example: the first line may pass by a space and a token", U"aaaa|bbbb|cccc|/|dd", 10, 6,
       U"aaaa bbbb\r\n cccc/dd"},
      {"parameters glue", U"text|/|plain|;|a|=|\"b c\"", 76, 14, U"text/plain;a=\"b c\""},
      {"no folding at -1", U"aaaaaaaaaa|bbbbbbbbbb", -1, 1000, U"aaaaaaaaaa bbbbbbbbbb"},
      {"threshold 0: a line per token", U"a|b|/|c", 0, 0, U"a\r\n b\r\n /\r\n c"},
      {"offset past the threshold folds first", U"a|b", 5, 6, U"\r\n a b"},
      {"offset at the threshold does not fold", U"a|b", 5, 5, U"a\r\n b"},
      {"a long token is never split", U"x|0123456789abcdef|y", 4, 0, U"x 0123456789abcdef\r\n y"},
      {"no second space after a fold", U"aaaa|b|c", 3, 0, U"aaaa\r\n b c"},
      {"a tspecial after a tspecial is not glued", U"a|/|/|b", 76, 0, U"a / / b"},
      {"one pair glued, then a main token", U"a|/|b|c", 76, 0, U"a/b c"},
      {"comments never glue", U"(c)|a|/|b|;|(d)", 76, 0, U"(c) a/b ; (d)"},
      {"a final tspecial stands apart", U"a|;", 76, 0, U"a ;"},
      {"angle brackets never glue", U"a|<|b|>", 76, 0, U"a < b >"},
      {"domain literal stands apart", U"[x]|/|a", 76, 0, U"[x] / a"},
      {"every glue tspecial", U"a|@|b|,|c|;|d|:|e|\\|f|/|g|?|h|=|i", -1, 0, U"a@b,c;d:e\\f/g?h=i"},
      {"a fold before a glued tspecial", U"abcdef|/|gh|;|ij", 5, 0, U"abcdef\r\n /gh;ij"},
      {"a fold before a glued value", U"abcdef|/|gh|;|ij", 6, 0, U"abcdef/\r\n gh;ij"},
      {"CR in a quoted string is a character", U"\"a\\\rb\"|c|d", 6, 0, U"\"a\\\rb\" c\r\n d"},
  };
  for (const auto &[label, tokens, wrapLineLength, firstLineOffset, expected] : rows)
    EXPECT_TRUE(test_support::exactlyEqual(encode(tokenVector(tokens).get(), wrapLineLength, firstLineOffset),
                                           expected))
        << label;
  EXPECT_EQ(encode(VectorRef(kxVectorCreate()).get(), 10, 50), U"");
}

// Whatever text a creator is given, its plain value gives the text back; spaces and folds fall only between
// tokens, so the tokenizer reads back what the creators made.
TEST(ShfTokenVectorEncode, RandomVectorsRoundTripThroughTheTokenizer) {
  DeterministicRandom random(0x6d696d65);
  const char32_t textAlphabet[] = {U'a', U'7',  U' ',    U'\t',     U'\r',         U'\n', U'\0',
                                   U'"', U'\\', U'(',    U')',      U'[',          U']',  U'/',
                                   U';', U'=',  U'\x7F', U'\u00FC', U'\U0010FFFF', 0xD800};
  const char32_t tokenAlphabet[] = {U'a', U'x', U'9', U'-', U'.', U'!', U'~', U'\u00E9', 0xDC00};
  // Every tspecial but the three that would open a delimited token when read back.
  const char32_t tspecials[] = {U')', U'<', U'>', U'@', U',', U';', U':', U'\\', U'/', U']', U'?', U'='};
  const kxInt thresholds[] = {-1, 0, 1, 2, 3, 5, 8, 13, 76};
  for (int round = 0; round < 1500; ++round) {
    VectorRef vec(kxVectorCreate());
    for (auto n = random.range(0, 12); n > 0; --n) {
      std::u32string text, bare(1, random.pick(tokenAlphabet));
      for (auto k = random.range(0, 6); k > 0; --k) text += random.pick(textAlphabet);
      for (auto k = random.range(0, 5); k > 0; --k) bare += random.pick(tokenAlphabet);
      const auto kind = random.range(0, 3);
      TokenRef tok(kind == 0   ? mimeShfTokenCreateTokenOrQuotedString(kxText(text).get())
                   : kind == 1 ? mimeShfTokenCreateComment(kxText(text).get())
                   : kind == 2 ? mimeShfTokenCreateTspecial(random.pick(tspecials))
                               : mimeShfTokenCreateRawValue(kxText(bare).get()));
      if (kind < 2) {
        ASSERT_TRUE(test_support::exactlyEqual(takeCodePoints(mimeShfTokenValue(tok.get())), text));
      }
      kxVectorAppendObj(vec.addr(), mimeShfTokenObj(tok.get()));
    }
    const kxInt threshold = random.pick(thresholds), offset = random.range(0, 90);
    const std::u32string text = encode(vec.get(), threshold, offset);
    ASSERT_EQ(decode(text), tokensOf(vec.get()))
        << "round " << round << " threshold " << threshold << " offset " << offset << ": "
        << escapeForDisplay<char32_t>(text);
  }
}

// --- decoding ---

TEST(ShfTokenVectorTryDecode, CutsValuesIntoTokens) {
  const std::pair<std::u32string, const char *> rows[] = {
      {U" \t\r\n \r\n\t", ""},
      {U" text/plain; a=\"b\" (c) ", "Ttext|S/|Tplain|S;|Ta|S=|Q\"b\"|C(c)"},
      {U"a(b)c", "Ta|C(b)|Tc"},
      {U"(a (b) \\) c)", "C(a (b) \\\\) c)"},
      {U"\"(a\\\"\"", "Q\"(a\\\\\"\""},
      {U"\"a\r\n b\"(a\r\n\tb)", "Q\"a\\r\\n b\"|C(a\\r\\n\\tb)"},
      {U"\"a\nb\"", "Q\"a\\nb\""},
      {U"[a\\]b][\"]", "D[a\\\\]b]|D[\"]"},
      {U")]", "S)|S]"},
      {std::u32string(U"7bit\0", 5), "T7bit"},  // NUL ends a run and is dropped
      {U"a\x7F\rb\n", "Ta|Tb"},                 // so are DEL and stray CR and LF
      {U"\u00E9t\u00E9/\U0010FFFF\xD800", "T\\x{e9}t\\x{e9}|S/|T\\x{10ffff}\\x{d800}"},
      {U"\"a\\\r\"", "Q\"a\\\\\\r\""},
      {U"(a (b)", "<null>"},
      {U"(a \"(\" b)", "<null>"},  // quotation marks do not protect parentheses in a comment
      {U"\"abc\\", "<null>"},
      {U"a \"", "<null>"},
      {U"[", "<null>"},
      {U"\"a\r\nb\"", "<null>"},  // a CR LF that is no fold
      {U"\"a\r", "<null>"},
      {U"\"a\r\n", "<null>"},
      {U"(a\r b)", "<null>"},
      {U"[a[b]", "<null>"},
      {U"text/plain; a=\"b", "<null>"},
  };
  for (const auto &[input, expected] : rows)
    EXPECT_EQ(decode(input), expected) << escapeForDisplay<char32_t>(input);
}

TEST(ShfTokenVectorTryDecode, HundredThousandNestedCommentsAreReadIteratively) {
  const size_t depth = 100000;
  const std::u32string nested = std::u32string(depth, U'(') + U"x" + std::u32string(depth, U')');
  EXPECT_EQ(decode(nested), "C" + escapeForDisplay<char32_t>(nested));
  EXPECT_EQ(decode(nested.substr(0, nested.size() - 1)), "<null>");
}

// --- removing comments ---

TEST(ShfTokenVectorDelComments, RemovesCommentsKeepsTheOrderAndLeavesOtherHoldersAlone) {
  VectorRef mine = tokenVector(U"(a)|text|(b)|/|(c)|plain|(d)|(e)");
  VectorRef theirs = VectorRef::retained(mine.get());
  mimeShfTokenVectorDelComments(mine.addr());
  EXPECT_EQ(tokensOf(mine.get()), "Ttext|S/|Tplain");
  EXPECT_EQ(tokensOf(theirs.get()), "C(a)|Ttext|C(b)|S/|C(c)|Tplain|C(d)|C(e)");
  EXPECT_EQ(refsOf(theirs.get()), 1);
  EXPECT_EQ(kxVectorBacking(mine.get())[0], kxVectorBacking(theirs.get())[1]);  // the same token, not a copy
  // Without comments the vector stays the same object; with only comments it empties.
  KX_VECTOR *before = mine.get();
  mimeShfTokenVectorDelComments(mine.addr());
  EXPECT_EQ(mine.get(), before);
  VectorRef comments = tokenVector(U"(a)|(b)");
  mimeShfTokenVectorDelComments(comments.addr());
  EXPECT_EQ(kxVectorLength(comments.get()), 0);
}

// --- contract aborts with their own expression ---

}  // namespace
