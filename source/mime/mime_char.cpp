// The character classes, exported for the other parts of the library and for callers; each answers from the
// constexpr class table of mime_char.h.
#include "mime/mime_char.h"

namespace chars = mime::chars;

// Every class is an exact RFC set; spot checks that the table was built as intended.
static_assert(chars::isTspecial('(') && chars::isTspecial('=') && !chars::isTspecial('.'));
static_assert(chars::isBcharsNospace('\'') && !chars::isBcharsNospace(' ') && chars::isBchars(' '));
static_assert(chars::isCtl(0x7F) && chars::isCtl('\t') && !chars::isCtl(' '));
static_assert(!chars::isAlpha('@') && !chars::isAlpha('[') && !chars::isAlpha(0x60) && !chars::isAlpha(0x7B));
static_assert(!chars::isAlpha('A' + 0x100) && !chars::isAlpha(0xC4) && !chars::isCtl(0x85));

namespace {

// The token bit is the RFC 2045 rule itself: anything but a tspecial, SP or a control character.
constexpr bool tokenBitIsTheTokenRule() {
  for (kxChar c = 0; c < 0x200; ++c) {
    const bool rule = !chars::isTspecial(c) && !chars::isSpace(c) && !chars::isCtl(c);
    if (chars::isTokenChar(c) != rule) return false;
  }
  return true;
}
static_assert(tokenBitIsTheTokenRule());

}  // namespace

extern "C" {

kxBool mime___CharIsAlpha(kxChar c) {
  return chars::isAlpha(c);
}
kxBool mime___CharIsDigit(kxChar c) {
  return chars::isDigit(c);
}
kxBool mime___CharIsCr(kxChar c) {
  return chars::isCr(c);
}
kxBool mime___CharIsLf(kxChar c) {
  return chars::isLf(c);
}
kxBool mime___CharIsHtab(kxChar c) {
  return chars::isHtab(c);
}
kxBool mime___CharIsSpace(kxChar c) {
  return chars::isSpace(c);
}
kxBool mime___CharIsLwsp(kxChar c) {
  return chars::isLwsp(c);
}
kxBool mime___CharIsQuotationMark(kxChar c) {
  return chars::isQuotationMark(c);
}
kxBool mime___CharIsCtl(kxChar c) {
  return chars::isCtl(c);
}
kxBool mime___CharIsTspecial(kxChar c) {
  return chars::isTspecial(c);
}
kxBool mime___CharIsBcharsNospace(kxChar c) {
  return chars::isBcharsNospace(c);
}
kxBool mime___CharIsBchars(kxChar c) {
  return chars::isBchars(c);
}

}  // extern "C"
