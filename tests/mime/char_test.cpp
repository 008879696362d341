// Character classes against oracles spelled out from the RFC grammars, over ASCII, Latin-1 and code points
// whose low bits look like members (a class must not truncate or mask the code point).
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "mime/mime.h"

namespace {

constexpr std::string_view kAlpha = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kDigit = "0123456789";
constexpr std::string_view kTspecials = "()<>@,;:\\\"/[]?=";     // RFC 2045
constexpr std::string_view kBcharsPunctuation = "'()+_,-./:=?";  // RFC 2046

bool in(std::string_view set, kxChar c) {
  return c < 128 && set.find(static_cast<char>(c)) != std::string_view::npos;
}

bool bcharNospace(kxChar c) {
  return in(kAlpha, c) || in(kDigit, c) || in(kBcharsPunctuation, c);
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
    {"ctl (C1 controls are not CTL)", mime___CharIsCtl, [](kxChar c) { return c <= 0x1F || c == 0x7F; }},
    {"tspecial", mime___CharIsTspecial, [](kxChar c) { return in(kTspecials, c); }},
    {"bcharsnospace", mime___CharIsBcharsNospace, bcharNospace},
    {"bchars", mime___CharIsBchars, [](kxChar c) { return c == 0x20 || bcharNospace(c); }},
};

TEST(CharClasses, EveryClassMatchesItsRfcSetExactly) {
  std::vector<kxChar> probes;
  for (kxChar c = 0; c < 0x200; ++c) probes.push_back(c);
  for (kxChar base : {0x10000u, 0x10FF00u, 0xFFFFFF00u})
    for (kxChar low : {0x09u, 0x20u, 0x22u, 0x28u, 0x30u, 0x41u, 0x7Fu}) probes.push_back(base + low);
  for (kxChar c : probes) {
    for (const auto &cls : kClasses)
      ASSERT_EQ(cls.test(c), cls.oracle(c) ? 1 : 0) << cls.name << " U+" << std::hex << c;
    // The token test the scanners inline: no tspecial, no control character, no space; non-ASCII belongs.
    ASSERT_EQ(mime::chars::isTokenChar(c), !mime___CharIsTspecial(c) && !mime___CharIsCtl(c) && c != 0x20)
        << c;
  }
}

}  // namespace
