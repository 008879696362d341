// MIME flags and encode flags: normalisation and the text forms through the module's flag sets.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

struct NormalizeCase {
  const char *label;
  kxInt (*normalize)(kxInt);
  kxInt flags;
  kxInt expected;
};

TEST(Flags, NormalizeKeepsDefinedBitsAndLetsTheStrongerFlagWin) {
  const NormalizeCase rows[] = {
      {"nothing", mimeFlagsNormalize, 0, 0},
      {"unicode alone stays", mimeFlagsNormalize, 5, 5},
      {"rfc2231 generation drops unicode", mimeFlagsNormalize, 6, 2},
      {"first undefined bit", mimeFlagsNormalize, 32, 0},
      {"undefined high bits cleared", mimeFlagsNormalize, KX_INT_MIN | 0x100 | 9, 9},
      {"all bits", mimeFlagsNormalize, -1, 27},
      {"encode: 7bit wins over 8bit", mimeEncodeFlagsNormalize, 3, 1},
      {"encode: 8bit alone", mimeEncodeFlagsNormalize, 2, 2},
      {"encode: all bits", mimeEncodeFlagsNormalize, -1, 1},
  };
  for (const auto &row : rows) EXPECT_EQ(row.normalize(row.flags), row.expected) << row.label;
}

TEST(Flags, TextFormsRoundTripToTheNormalisedFlags) {
  for (kxInt f = -2; f < 70; ++f) {
    EXPECT_EQ(mimeFlagsFromString(StringRef(mimeFlagsToString(f)).get()), mimeFlagsNormalize(f)) << f;
    EXPECT_EQ(mimeEncodeFlagsFromString(StringRef(mimeEncodeFlagsToString(f)).get()),
              mimeEncodeFlagsNormalize(f))
        << f;
  }
  EXPECT_EQ(kxStringLength(StringRef(mimeFlagsToString(0)).get()), 0);
  // The names of one set mean nothing to the other.
  EXPECT_EQ(mimeEncodeFlagsFromString(StringRef(mimeFlagsToString(1)).get()), 0);
}

TEST(Flags, ParsingNormalisesAndIgnoresUnknownNames) {
  const std::pair<const char *, kxInt> rows[] = {
      {"", 0},
      {"MIME_FLAG_GENERATE_EIGHT_BIT_BODY", 8},
      {"MIME_FLAG_GENERATE_UNICODE_HEADERS, MIME_FLAG_GENERATE_RFC2231_HEADERS", 2},
      {"NO_SUCH, MIME_FLAG_PARSE_RFC2231_HEADERS", 1},
  };
  for (const auto &[text, expected] : rows) EXPECT_EQ(mimeFlagsFromString(str(text).get()), expected) << text;
}

}  // namespace
