// Character classes: every class against an oracle written from the RFC grammars, over all of ASCII, the
// Latin-1 range and hostile values far outside it.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "mime/mime.h"

namespace {

// The RFC sets, spelled out as text rather than derived from ranges.
constexpr std::string_view kAlpha = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kDigit = "0123456789";
constexpr std::string_view kTspecials = "()<>@,;:\\\"/[]?=";     // RFC 2045
constexpr std::string_view kBcharsPunctuation = "'()+_,-./:=?";  // RFC 2046

bool in(std::string_view set, kxChar c) {
  return c < 128 && set.find(static_cast<char>(c)) != std::string_view::npos;
}

struct ClassCase {
  const char *name;
  kxBool (*test)(kxChar);
  bool (*oracle)(kxChar);
};

const ClassCase kClasses[] = {
    {"alpha", mime___CharIsAlpha, [](kxChar c) { return in(kAlpha, c); }},
    {"digit", mime___CharIsDigit, [](kxChar c) { return in(kDigit, c); }},
    {"cr", mime___CharIsCr, [](kxChar c) { return c == 0x0D; }},
    {"lf", mime___CharIsLf, [](kxChar c) { return c == 0x0A; }},
    {"htab", mime___CharIsHtab, [](kxChar c) { return c == 0x09; }},
    {"space", mime___CharIsSpace, [](kxChar c) { return c == 0x20; }},
    {"lwsp", mime___CharIsLwsp, [](kxChar c) { return c == 0x20 || c == 0x09; }},
    {"quotation mark", mime___CharIsQuotationMark, [](kxChar c) { return c == 0x22; }},
    {"ctl", mime___CharIsCtl, [](kxChar c) { return c <= 0x1F || c == 0x7F; }},
    {"tspecial", mime___CharIsTspecial, [](kxChar c) { return in(kTspecials, c); }},
    {"bcharsnospace", mime___CharIsBcharsNospace,
     [](kxChar c) { return in(kAlpha, c) || in(kDigit, c) || in(kBcharsPunctuation, c); }},
    {"bchars", mime___CharIsBchars,
     [](kxChar c) { return c == 0x20 || in(kAlpha, c) || in(kDigit, c) || in(kBcharsPunctuation, c); }},
};

std::vector<kxChar> probes() {
  std::vector<kxChar> out;
  for (kxChar c = 0; c < 0x200; ++c) out.push_back(c);
  // Values whose low bits look like members: the tests must not truncate or mask the code point.
  for (kxChar base : {0x100u, 0x10000u, 0x10FF00u, 0xFFFFFF00u})
    for (kxChar low : {0x09u, 0x20u, 0x22u, 0x28u, 0x30u, 0x41u, 0x61u, 0x7Fu}) out.push_back(base + low);
  for (kxChar c : {0xC4u, 0x20ACu, 0xD800u, 0xDFFFu, 0xFEFFu, 0x10FFFFu, 0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu})
    out.push_back(c);
  return out;
}

TEST(CharClasses, EveryClassMatchesItsRfcSetExactly) {
  const std::vector<kxChar> all = probes();
  for (const auto &cls : kClasses)
    for (kxChar c : all) ASSERT_EQ(cls.test(c), cls.oracle(c) ? 1 : 0) << cls.name << " U+" << std::hex << c;
}

struct MembershipCase {
  const char *label;
  kxBool (*test)(kxChar);
  std::string_view members;
  std::string_view nonMembers;
};

TEST(CharClasses, NeighboursAndOverlapsOfTheGrammar) {
  const MembershipCase rows[] = {
      {"not tspecials", mime___CharIsTspecial, "", ".*%'-_+!#$&{}|~`"},
      {"bchars punctuation", mime___CharIsBchars, "'+_-. ", "<>@;\"\\[]"},
      {"both tspecial and bchar: tspecial side", mime___CharIsTspecial, "(),/:=?", ""},
      {"both tspecial and bchar: bchar side", mime___CharIsBcharsNospace, "(),/:=?", " "},
      {"letter neighbours", mime___CharIsAlpha, "AZaz", "@[`{"},
      {"control characters", mime___CharIsCtl, "\x7F\t\r\n", " "},
      {"white space", mime___CharIsLwsp, " \t", "\r\n"},
  };
  for (const auto &row : rows) {
    for (char c : row.members)
      EXPECT_EQ(row.test(static_cast<unsigned char>(c)), 1) << row.label << " '" << c << "'";
    for (char c : row.nonMembers)
      EXPECT_EQ(row.test(static_cast<unsigned char>(c)), 0) << row.label << " '" << c << "'";
  }
  for (kxChar c = 0x80; c <= 0x9F; ++c) EXPECT_EQ(mime___CharIsCtl(c), 0) << "C1 controls are not CTL";
}

// The constexpr forms that the library's scanners inline agree with the exported ones.
TEST(CharClasses, ConstexprFormsAgreeWithTheExportedFunctions) {
  for (kxChar c : probes()) {
    ASSERT_EQ(mime::chars::isTspecial(c), mime___CharIsTspecial(c) == 1);
    ASSERT_EQ(mime::chars::isCtl(c), mime___CharIsCtl(c) == 1);
    ASSERT_EQ(mime::chars::isTokenChar(c), !mime___CharIsTspecial(c) && !mime___CharIsCtl(c) && c != 0x20);
  }
}

}  // namespace
