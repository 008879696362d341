/* Character classes of the MIME and RFC 822 grammars. Each takes one code point (treated as unsigned) and
 * returns exactly 1 for a member and 0 otherwise; no state, no allocation, no failure. Every class is a
 * subset of ASCII: a code point of 0x80 or above belongs to none. The library tests characters only
 * through these. */
#ifndef MIME_CHAR_H
#define MIME_CHAR_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

MIME_EXPORT kxBool mime___CharIsAlpha(kxChar c);         /* ALPHA: A-Z, a-z */
MIME_EXPORT kxBool mime___CharIsDigit(kxChar c);         /* DIGIT: 0-9 */
MIME_EXPORT kxBool mime___CharIsCr(kxChar c);            /* CR: 0x0D */
MIME_EXPORT kxBool mime___CharIsLf(kxChar c);            /* LF: 0x0A */
MIME_EXPORT kxBool mime___CharIsHtab(kxChar c);          /* HTAB: 0x09 */
MIME_EXPORT kxBool mime___CharIsSpace(kxChar c);         /* SPACE: 0x20 */
MIME_EXPORT kxBool mime___CharIsLwsp(kxChar c);          /* RFC 822 LWSP-char: SP, HTAB (not CR, LF) */
MIME_EXPORT kxBool mime___CharIsQuotationMark(kxChar c); /* 0x22 */
MIME_EXPORT kxBool mime___CharIsCtl(kxChar c);           /* RFC 822 CTL: 0x00-0x1F and 0x7F (not SP) */
MIME_EXPORT kxBool mime___CharIsTspecial(kxChar c);      /* RFC 2045 tspecials: ()<>@,;:\"/[]?= */
MIME_EXPORT kxBool
mime___CharIsBcharsNospace(kxChar c);             /* RFC 2046 bcharsnospace: DIGIT ALPHA '()+_,-./:=? */
MIME_EXPORT kxBool mime___CharIsBchars(kxChar c); /* RFC 2046 bchars: bcharsnospace and SP */

KX_EXTERN_C_END

#ifdef __cplusplus
/* The same classes as constexpr tests, so that the scanners of the library inline them. */
namespace mime::chars {

enum ClassBit : unsigned char {
  kAlpha = 1u << 0,
  kDigit = 1u << 1,
  kLwsp = 1u << 2,
  kCtl = 1u << 3,
  kTspecial = 1u << 4,
  kBcharsNospace = 1u << 5,
  kToken = 1u << 6, /* an ASCII character of an RFC 2045 token: not a tspecial, SP or control character */
};

/* One table for all ASCII classes rather than <cctype>: the sets are the exact ones of RFC 822, 2045 and
 * 2046, independent of the locale, and one load answers every class. */
inline constexpr char kTspecials[15] = {'(',  ')', '<', '>', '@', ',', ';', ':',
                                        '\\', '"', '/', '[', ']', '?', '='};
inline constexpr char kBcharsPunctuation[12] = {'\'', '(', ')', '+', '_', ',', '-', '.', '/', ':', '=', '?'};

struct ClassTable {
  unsigned char bits[128];
};

constexpr ClassTable makeClassTable() {
  ClassTable t{};
  for (unsigned c = 0; c < 128; ++c) {
    unsigned char b = 0;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) b |= kAlpha;
    if (c >= '0' && c <= '9') b |= kDigit;
    if (c == ' ' || c == '\t') b |= kLwsp;
    if (c < 0x20 || c == 0x7F) b |= kCtl;
    t.bits[c] = b;
  }
  for (char c : kTspecials) t.bits[static_cast<unsigned char>(c)] |= kTspecial;
  for (unsigned c = 0; c < 128; ++c)
    if (t.bits[c] & (kAlpha | kDigit)) t.bits[c] |= kBcharsNospace;
  for (char c : kBcharsPunctuation) t.bits[static_cast<unsigned char>(c)] |= kBcharsNospace;
  for (unsigned c = 0x21; c < 0x7F; ++c)
    if (!(t.bits[c] & kTspecial)) t.bits[c] |= kToken;
  return t;
}

inline constexpr ClassTable kClassTable = makeClassTable();

constexpr bool has(kxChar c, unsigned bit) {
  return c < 128 && (kClassTable.bits[c] & bit) != 0;
}

constexpr bool isAlpha(kxChar c) {
  return has(c, kAlpha);
}
constexpr bool isDigit(kxChar c) {
  return has(c, kDigit);
}
constexpr bool isCr(kxChar c) {
  return c == 0x0D;
}
constexpr bool isLf(kxChar c) {
  return c == 0x0A;
}
constexpr bool isHtab(kxChar c) {
  return c == 0x09;
}
constexpr bool isSpace(kxChar c) {
  return c == 0x20;
}
constexpr bool isLwsp(kxChar c) {
  return has(c, kLwsp);
}
constexpr bool isQuotationMark(kxChar c) {
  return c == 0x22;
}
constexpr bool isCtl(kxChar c) {
  return has(c, kCtl);
}
constexpr bool isTspecial(kxChar c) {
  return has(c, kTspecial);
}
constexpr bool isBcharsNospace(kxChar c) {
  return has(c, kBcharsNospace);
}
constexpr bool isBchars(kxChar c) {
  return c == 0x20 || has(c, kBcharsNospace);
}
/* A character of an RFC 2045 token: not a tspecial, not SP, not a control character (non-ASCII is). */
constexpr bool isTokenChar(kxChar c) {
  return c >= 128 || (kClassTable.bits[c] & kToken) != 0;
}

}  // namespace mime::chars
#endif

#endif
