// MIME flags and encode flags: normalisation and the text forms through the module's flag sets.
#include <gtest/gtest.h>

#include "kx/kx.h"
#include "mime/mime.h"
#include "mime/mime_object.hpp"
#include "support/death_text.hpp"
#include "support/kx_text.hpp"

using test_support::abortText;
using test_support::StringRef;

namespace {

struct NormalizeCase {
  const char *label;
  kxInt flags;
  kxInt expected;
};

TEST(Flags, NormalizeKeepsDefinedBitsAndLetsRfc2231WinOverUnicode) {
  const NormalizeCase rows[] = {
      {"nothing", 0, 0},
      {"unicode alone stays", 4, 4},
      {"rfc2231 generation drops unicode", 6, 2},
      {"all defined bits", 31, 27},
      {"first undefined bit", 32, 0},
      {"undefined high bits cleared", KX_INT_MIN | 0x100 | 9, 9},
      {"all bits", -1, 27},
      {"parse and unicode", 5, 5},
  };
  for (const auto &row : rows) EXPECT_EQ(mimeFlagsNormalize(row.flags), row.expected) << row.label;
}

TEST(EncodeFlags, NormalizeLetsSevenBitWin) {
  const NormalizeCase rows[] = {
      {"both", 3, 1}, {"8bit alone", 2, 2}, {"undefined", 4, 0}, {"all bits", -1, 1}, {"7bit", 1, 1},
  };
  for (const auto &row : rows) EXPECT_EQ(mimeEncodeFlagsNormalize(row.flags), row.expected) << row.label;
}

TEST(Flags, TextFormRoundTripsToTheNormalisedFlags) {
  for (kxInt f = -2; f < 70; ++f) {
    StringRef text(mimeFlagsToString(f));
    EXPECT_EQ(mimeFlagsFromString(text.get()), mimeFlagsNormalize(f)) << f;
  }
  StringRef six(mimeFlagsToString(6));
  StringRef two(mimeFlagsToString(2));
  EXPECT_TRUE(kxStringEquals(six.get(), two.get()));
  StringRef none(mimeFlagsToString(0));
  EXPECT_EQ(kxStringLength(none.get()), 0);
}

TEST(EncodeFlags, TextFormRoundTripsAndIsSeparateFromTheMimeFlags) {
  for (kxInt f = -1; f < 9; ++f) {
    StringRef text(mimeEncodeFlagsToString(f));
    EXPECT_EQ(mimeEncodeFlagsFromString(text.get()), mimeEncodeFlagsNormalize(f)) << f;
  }
  StringRef mime1(mimeFlagsToString(1));
  StringRef encode1(mimeEncodeFlagsToString(1));
  EXPECT_FALSE(kxStringEquals(mime1.get(), encode1.get()));
  EXPECT_EQ(mimeEncodeFlagsFromString(mime1.get()), 0);  // names of one set mean nothing to the other
}

struct ParseCase {
  const char *label;
  const char *text;
  kxInt expected;
};

TEST(Flags, ParsingNormalisesAndIgnoresUnknownNames) {
  const ParseCase rows[] = {
      {"empty", "", 0},
      {"one name", "MIME_FLAG_GENERATE_EIGHT_BIT_BODY", 8},
      {"unicode dropped under rfc2231",
       "MIME_FLAG_GENERATE_UNICODE_HEADERS, MIME_FLAG_GENERATE_RFC2231_HEADERS", 2},
      {"unknown name", "MIME_FLAG_NO_SUCH_THING", 0},
      {"unknown beside known", "NO_SUCH, MIME_FLAG_PARSE_RFC2231_HEADERS", 1},
  };
  for (const auto &row : rows) {
    StringRef text(kxStringCreateFromCstr(row.text, -1));
    EXPECT_EQ(mimeFlagsFromString(text.get()), row.expected) << row.label;
  }
}

TEST(FlagsDeathTest, NullStringsAndDuplicateNamesAbort) {
  EXPECT_DEATH(mimeFlagsFromString(nullptr), abortText("", "string"));
  EXPECT_DEATH(mimeEncodeFlagsFromString(nullptr), abortText("", "string"));
  // Startup adds each name through this step; a name already present is a broken flag table.
  EXPECT_DEATH(
      MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_PARSE_RFC2231_HEADERS),
      abortText("",
                "!kxFlagsetHasFlagCstr( *(&mime___FlagsFlagset), \"MIME_FLAG_PARSE_RFC2231_HEADERS\", -1 )"));
}

}  // namespace
