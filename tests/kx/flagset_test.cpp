// Flagsets: the text of a bit set and back, with multi-bit flags, bit 63, redefined and unknown names.
// (Copy-on-write and the string form: obj_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

using FlagsetRef = kx::Ref<KX_FLAGSET>;

// The MIME flags, defined out of order to show that generating sorts by value.
FlagsetRef mimeFlags() {
  FlagsetRef fs(kxFlagsetCreate());
  kxFlagsetSetFlagCstr(fs.addr(), "GENERATE_UNICODE", -1, 4);
  kxFlagsetSetFlagCstr(fs.addr(), "PARSE_RFC2231", -1, 1);
  kxFlagsetSetFlagCstr(fs.addr(), "GENERATE_RFC2231", -1, 2);
  kxFlagsetSetFlagCstr(fs.addr(), "EIGHT_BIT_BODY", -1, 8);
  kxFlagsetSetFlagCstr(fs.addr(), "DISABLE_QP", -1, 16);
  return fs;
}

std::string generate(KX_FLAGSET *fs, kxInt flags) {
  return utf8Of(StringRef(kxFlagsetGenerate(fs, flags)).get());
}

kxInt parse(KX_FLAGSET *fs, const std::string &text) {
  return kxFlagsetParse(
      fs, StringRef(kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size()))).get());
}

// {flags, text}: ascending by value, undefined bits left out.
const std::pair<kxInt, const char *> kGenerateCases[] = {
    {0, ""},
    {19, "PARSE_RFC2231, GENERATE_RFC2231, DISABLE_QP"},
    {32 | 64 | 1, "PARSE_RFC2231"},
    {-1, "PARSE_RFC2231, GENERATE_RFC2231, GENERATE_UNICODE, EIGHT_BIT_BODY, DISABLE_QP"},
};

TEST(FlagsetGenerate, WritesSetFlagsAscendingByValue) {
  FlagsetRef fs = mimeFlags();
  for (auto [flags, expected] : kGenerateCases) EXPECT_EQ(generate(fs.get(), flags), expected) << flags;
}

// {label, text, flags}
const std::tuple<const char *, std::string, kxInt> kParseCases[] = {
    {"pipes with and without spaces", "PARSE_RFC2231|DISABLE_QP | EIGHT_BIT_BODY", 25},
    {"white space only", " EIGHT_BIT_BODY\tGENERATE_UNICODE\r\n", 12},
    {"separator runs and ends", ",,|PARSE_RFC2231,,, ,GENERATE_RFC2231|", 3},
    {"unknown names contribute nothing", "NOPE, GENERATE_RFC2231, 42", 2},
    {"names are case-sensitive", "parse_rfc2231", 0},
    {"separators only", " , | ", 0},
    {"a name with other characters is another word", "PARSE_RFC2231-GENERATE_RFC2231", 0},
    {"a non-ASCII word is skipped whole", "PARSE_RFC2231\xC3\xA9, DISABLE_QP", 16},
    {"nul inside a word", std::string("DISABLE_QP\0X, PARSE_RFC2231", 27), 1},
};

TEST(FlagsetParse, UnitesNamedFlagsAndIgnoresTheRest) {
  FlagsetRef fs = mimeFlags();
  for (const auto &[label, text, expected] : kParseCases) EXPECT_EQ(parse(fs.get(), text), expected) << label;
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "DISABLE_QPX", 10), 1) << "only the first 10 characters";
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "DISABLE", -1), 0);
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "DISABLE_QP", 0), 0) << "0 is a length, not up to the NUL";
}

TEST(FlagsetSetFlag, MultiBitFlagsBit63AndRedefinedNames) {
  FlagsetRef fs(kxFlagsetCreate());
  kxFlagsetSetFlagCstr(fs.addr(), "BOTH", -1, 3);
  kxFlagsetSetFlagCstr(fs.addr(), "LOW", -1, 2);
  kxFlagsetSetFlagCstr(fs.addr(), "TOP", -1, KX_INT_MIN);  // bit 63: the largest value, so written last
  kxFlagsetSetFlagCstr(fs.addr(), "LOW", -1, 1);           // redefined: the new value counts
  EXPECT_EQ(generate(fs.get(), 2), "") << "a multi-bit flag needs all its bits";
  EXPECT_EQ(generate(fs.get(), KX_INT_MIN | 3), "LOW, BOTH, TOP");
  EXPECT_EQ(parse(fs.get(), "BOTH"), 3);
  EXPECT_EQ(parse(fs.get(), "TOP"), KX_INT_MIN);
  EXPECT_EQ(parse(fs.get(), "LOW"), 1);
}

// "NAME=value,..." as a flagset, defined in that order.
FlagsetRef flagsetOf(const std::string &flags) {
  FlagsetRef fs(kxFlagsetCreate());
  for (size_t at = 0; at < flags.size();) {
    const size_t comma = std::min(flags.find(',', at), flags.size()), equals = flags.find('=', at);
    const std::string name = flags.substr(at, equals - at);
    kxFlagsetSetFlagCstr(fs.addr(), name.c_str(), -1,
                         std::stoll(flags.substr(equals + 1, comma - equals - 1)));
    at = comma + 1;
  }
  return fs;
}

// Flag by flag in value order, the value first, then the name; a flagset that is a prefix of the other orders
// first, and is read no further than its own end.
TEST(FlagsetCompare, ValueThenNameAndAPrefixFirst) {
  const std::tuple<const char *, const char *, kxInt> rows[] = {
      {"A=1", "A=1", 0},  {"A=1", "A=1,B=2", -1}, {"A=1,B=2,C=4", "A=1,B=2", 1},
      {"B=1", "A=2", -1}, {"A=1", "B=1", -1},     {"B=2,A=1", "A=1,B=2", 0},
  };
  for (const auto &[a, b, expected] : rows) {
    EXPECT_EQ(kxObjCompare(kxFlagsetObj(flagsetOf(a).get()), kxFlagsetObj(flagsetOf(b).get())), expected)
        << a << " vs " << b;
  }
}

}  // namespace
