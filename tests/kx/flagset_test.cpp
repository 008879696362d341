// Flagsets: the text of a bit set and back, with multi-bit flags, bit 63, unknown names and copy-on-write.
#include <gtest/gtest.h>

#include <string>

#include "kx_test.hpp"

using namespace kxtest;

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
  StringRef text(kxFlagsetGenerate(fs, flags));
  return utf8Of(text.get());
}

kxInt parse(KX_FLAGSET *fs, const std::string &text) {
  StringRef s(kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size())));
  return kxFlagsetParse(fs, s.get());
}

struct GenerateCase {
  const char *label;
  kxInt flags;
  const char *expected;
};

const GenerateCase kGenerateCases[] = {
    {"no flags", 0, ""},
    {"one flag", 4, "GENERATE_UNICODE"},
    {"ascending by value", 19, "PARSE_RFC2231, GENERATE_RFC2231, DISABLE_QP"},
    {"all", 31, "PARSE_RFC2231, GENERATE_RFC2231, GENERATE_UNICODE, EIGHT_BIT_BODY, DISABLE_QP"},
    {"undefined bits left out", 32 | 64 | 1, "PARSE_RFC2231"},
    {"negative", -1, "PARSE_RFC2231, GENERATE_RFC2231, GENERATE_UNICODE, EIGHT_BIT_BODY, DISABLE_QP"},
};

TEST(FlagsetGenerate, WritesSetFlagsAscendingByValue) {
  FlagsetRef fs = mimeFlags();
  for (const auto &c : kGenerateCases) EXPECT_EQ(generate(fs.get(), c.flags), c.expected) << c.label;
}

struct ParseCase {
  const char *label;
  std::string text;
  kxInt expected;
};

const ParseCase kParseCases[] = {
    {"generated form", "PARSE_RFC2231, GENERATE_RFC2231", 3},
    {"pipes", "PARSE_RFC2231|DISABLE_QP", 17},
    {"pipes with spaces", "PARSE_RFC2231 | DISABLE_QP", 17},
    {"white space only", " EIGHT_BIT_BODY\tGENERATE_UNICODE\r\n", 12},
    {"separator runs and ends", ",,|PARSE_RFC2231,,, ,GENERATE_RFC2231|", 3},
    {"unknown names contribute nothing", "NOPE, GENERATE_RFC2231, 42", 2},
    {"names are case-sensitive", "parse_rfc2231", 0},
    {"empty", "", 0},
    {"separators only", " , | ", 0},
    {"a name with other characters is another word", "PARSE_RFC2231-GENERATE_RFC2231", 0},
    {"a non-ASCII word is skipped whole", "PARSE_RFC2231\xC3\xA9, DISABLE_QP", 16},
    {"repeated name", "DISABLE_QP, DISABLE_QP", 16},
    {"nul inside a word", std::string("DISABLE_QP\0X, PARSE_RFC2231", 27), 1},
};

TEST(FlagsetParse, UnitesNamedFlagsAndIgnoresTheRest) {
  FlagsetRef fs = mimeFlags();
  for (const auto &c : kParseCases) EXPECT_EQ(parse(fs.get(), c.text), c.expected) << c.label;
}

TEST(FlagsetParse, InvertsGenerate) {
  FlagsetRef fs = mimeFlags();
  for (kxInt flags = 0; flags < 128; ++flags) {
    EXPECT_EQ(parse(fs.get(), generate(fs.get(), flags)), flags & 31) << flags;
  }
}

TEST(FlagsetMultiBit, WrittenOnlyWhenAllItsBitsAreSet) {
  FlagsetRef fs(kxFlagsetCreate());
  kxFlagsetSetFlagCstr(fs.addr(), "BOTH", -1, 3);
  kxFlagsetSetFlagCstr(fs.addr(), "LOW", -1, 1);
  kxFlagsetSetFlagCstr(fs.addr(), "TOP", -1, KX_INT_MIN);  // bit 63: the largest value, so written last
  EXPECT_EQ(generate(fs.get(), 1), "LOW");
  EXPECT_EQ(generate(fs.get(), 2), "");
  EXPECT_EQ(generate(fs.get(), 3), "LOW, BOTH");
  EXPECT_EQ(generate(fs.get(), KX_INT_MIN | 3), "LOW, BOTH, TOP");
  EXPECT_EQ(parse(fs.get(), "BOTH"), 3);
  EXPECT_EQ(parse(fs.get(), "TOP"), KX_INT_MIN);
}

TEST(FlagsetSetFlag, RedefiningANameReplacesItsValue) {
  FlagsetRef fs(kxFlagsetCreate());
  kxFlagsetSetFlagCstr(fs.addr(), "A", -1, 1);
  kxFlagsetSetFlagCstr(fs.addr(), "B", -1, 2);
  kxFlagsetSetFlagCstr(fs.addr(), "A", -1, 4);
  EXPECT_EQ(generate(fs.get(), 7), "B, A");
  EXPECT_EQ(parse(fs.get(), "A"), 4);
}

TEST(FlagsetHasFlag, ExactNameWithLength) {
  FlagsetRef fs = mimeFlags();
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "DISABLE_QP", -1), 1);
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "DISABLE_QPX", 10), 1) << "only the first 10 characters";
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "DISABLE", -1), 0);
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "disable_qp", -1), 0);
}

TEST(FlagsetSetFlag, CopiesASharedFlagset) {
  FlagsetRef fs = mimeFlags();
  KX_FLAGSET *original = fs.get();
  FlagsetRef other(kxFlagsetFrom(kxObjRetain(kxFlagsetObj(fs.get()))));
  kxFlagsetSetFlagCstr(fs.addr(), "EXTRA", -1, 32);
  EXPECT_NE(fs.get(), original);
  EXPECT_EQ(kxFlagsetHasFlagCstr(other.get(), "EXTRA", -1), 0) << "the other holder sees no change";
  EXPECT_EQ(kxFlagsetHasFlagCstr(fs.get(), "EXTRA", -1), 1);
  KX_FLAGSET *privateCopy = fs.get();
  kxFlagsetSetFlagCstr(fs.addr(), "MORE", -1, 64);
  EXPECT_EQ(fs.get(), privateCopy) << "a private flagset changes in place";
}

TEST(FlagsetCompare, ByFlagsInValueOrder) {
  FlagsetRef a = mimeFlags();
  FlagsetRef b = mimeFlags();
  EXPECT_EQ(kxObjCompare(kxFlagsetObj(a.get()), kxFlagsetObj(b.get())), 0);
  kxFlagsetSetFlagCstr(b.addr(), "EXTRA", -1, 32);
  EXPECT_EQ(kxObjCompare(kxFlagsetObj(a.get()), kxFlagsetObj(b.get())), -1) << "a prefix orders first";
  kxFlagsetSetFlagCstr(a.addr(), "EXTRA", -1, 64);
  EXPECT_EQ(kxObjCompare(kxFlagsetObj(a.get()), kxFlagsetObj(b.get())), 1);
  FlagsetRef small(kxFlagsetCreate());
  kxFlagsetSetFlagCstr(small.addr(), "A", -1, 1);
  kxFlagsetSetFlagCstr(small.addr(), "B", -1, 2);
  EXPECT_EQ(textOf(small.get()), "{A=1, B=2}");
}

TEST(FlagsetDeathTest, BadNamesAndZeroValuesAbort) {
  FlagsetRef fs(kxFlagsetCreate());
  EXPECT_DEATH(kxFlagsetSetFlagCstr(fs.addr(), "A B", -1, 1),
               abortLine("kx_flagset\\.cpp", "nameOk\\(view\\)"));
  EXPECT_DEATH(kxFlagsetSetFlagCstr(fs.addr(), "", -1, 1), abortLine("kx_flagset\\.cpp", "nameOk\\(view\\)"));
  EXPECT_DEATH(kxFlagsetSetFlagCstr(fs.addr(), "A", -1, 0), abortLine("kx_flagset\\.cpp", "value != 0"));
  EXPECT_DEATH(kxFlagsetParse(fs.get(), nullptr), abortLine("kx_flagset\\.cpp", "text"));
}

}  // namespace
