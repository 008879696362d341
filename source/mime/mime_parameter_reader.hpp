// Internal to the library: the parameter list of a structured header field value, read the one way for
// every field that carries one (Content-Type, Content-Disposition).
//
//   value      := [comments] head *( ";" key [ "=" [ value ] ] ) [ anything ]
//   key, value := RFC 2045 token / quoted-string   ; comments anywhere, dropped first
//
// The head is the field's own (type "/" subtype, a disposition type); the list after it is read leniently:
// a parameter without "=" or without a usable value gets the empty value, a key that is not acceptable is
// skipped, and the first token that fits nowhere ends the list, what follows being ignored.
#pragma once

#include <algorithm>
#include <memory_resource>
#include <span>
#include <vector>

#include "kx/kx_dict.h"
#include "mime/mime_rfc2231.hpp"
#include "mime/mime_shf_token_vector.hpp"

namespace mime {

// The plain values of the words (tokens and quoted strings) of one header value. A token's plain value is its
// raw text, and so is that of a quoted string without an escape, between its quotes: they stay where they are
// in the header (a value as long as the header costs no copy); other quoted strings are unescaped, and keys
// lower-cased, into one buffer. Places are kept as offsets while the buffer grows and become code points once
// reading is done.
class HeaderWords {
 public:
  enum class Where : size_t { kText, kBuffer };
  struct Place {
    Where where = Where::kText;
    size_t start = 0;
    size_t length = 0;  // the default place is the empty value
  };

  explicit HeaderWords(CodePoints text) : text_(text) {}

  // The plain value of an RFC 2045 word in *place; false for every other token type.
  bool word(const ShfTokenSpan &token, Place *place) {
    if (token.type != MIME_SHF_TOKEN_TYPE_TOKEN) return otherWord(token, place);
    *place = {Where::kText, static_cast<size_t>(token.start), static_cast<size_t>(token.length)};
    return true;
  }

  // When the word at *place is an acceptable parameter key (contentTypeParameterKeyOk), true with *place
  // the key in lower case (ASCII letters only, as kxStringToLower does): the word itself when it holds no
  // capital letter, else a copy. One pass answers both.
  bool acceptableKey(Place *place);

  // True when a key that acceptableKey passed holds "*", "'" or "%", the marks of RFC 2231 keys.
  bool sawRfc2231Keys() const { return rfc2231Keys_; }

  CodePoints chars(Place place) const {
    return (place.where == Where::kBuffer ? CodePoints(buffer_) : text_).subspan(place.start, place.length);
  }

 private:
  // word for every token that is not a token run (inline, the common case).
  bool otherWord(const ShfTokenSpan &token, Place *place);

  CodePoints text_;
  CodePointBuffer buffer_;
  bool rfc2231Keys_ = false;
};

// The tokens of a header field value, comments dropped, appended to tokens (a vector of ShfTokenSpan).
// False, with the fault recorded as the failure of the running strict call, when the value is malformed.
template <typename Tokens>
bool scanValueTokens(CodePoints text, Tokens &tokens) {
  tokens.reserve(std::min<size_t>(text.size(), 32));
  return scanShfTokens(text, [&tokens](const ShfTokenSpan &token) {
    if (token.type != MIME_SHF_TOKEN_TYPE_COMMENT) tokens.push_back(token);  // comments are dropped first
  });
}

// True when the token is the tspecial c.
inline bool isTspecialToken(const ShfTokenSpan &token, CodePoints text, kxChar c) {
  return token.type == MIME_SHF_TOKEN_TYPE_TSPECIAL && text[static_cast<size_t>(token.start)] == c;
}

// c in lower case when it is an ASCII capital letter.
inline kxChar lowerCaseLetter(kxChar c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// A new dictionary of the parameter list that begins at tokens[first] (keys lower-cased, a later key
// replacing an earlier one), RFC 2231 sections and extended values joined and decoded when mo holds the
// parse flag. The lists it makes on the way come from scratch.
KX_DICT *decodeParameterList(HeaderWords &words, std::span<const ShfTokenSpan> tokens, size_t first,
                             CodePoints text, MIME_OPTIONS *mo,
                             std::pmr::memory_resource *scratch = std::pmr::get_default_resource());

}  // namespace mime
