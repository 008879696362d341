// Internal to the library: the text rules of the token creators as operations on code points, so that the
// header codecs can write and read token text without building a token object for every token.
#pragma once

#include "mime/mime_shf_token.h"
#include "mime/mime_text.hpp"

namespace mime {

// A new token of the given type that keeps a new reference to rawValue. The caller vouches that rawValue has
// the shape of that type (the tokenizer's scans guarantee it), so it is not classified again.
MIME_SHF_TOKEN *createShfTokenOfType(kxInt type, KX_STRING *rawValue);

// The code points of tok's raw value, borrowed from the token (valid while the caller holds it).
CodePoints shfTokenRawText(MIME_SHF_TOKEN *tok);

// Appends to out the raw value that mimeShfTokenCreateTokenOrQuotedString makes of text (the text itself
// when it is a non-empty RFC 2045 token, else the quoted string) and returns its type, TOKEN or
// QUOTED_STRING.
kxInt appendTokenOrQuotedString(CodePoints text, CodePointBuffer &out);

// Appends to out text as a quoted string, the raw value that mimeShfTokenCreateTokenOrQuotedString makes of
// a text that is not a token.
void appendQuotedString(CodePoints text, CodePointBuffer &out);

// Appends to out the plain value of the raw value of a quoted string, domain literal or comment: the text
// between its delimiters with every quoted-pair resolved, as mimeShfTokenValue gives it.
void appendUnescapedInner(CodePoints raw, CodePointBuffer &out);

// A new reference to a string of chars. The words that most header values hold (common media types,
// parameter keys, charset names, disposition types) are made once and shared, strings being immutable: a
// decode retains one instead of making its own.
KX_STRING *sharedString(CodePoints chars);
// A new reference to the shared string of exactly chars, or null when chars is none of the shared words.
KX_STRING *sharedWord(CodePoints chars);

// The code points of UTF-8 octets, read as kxStringCreateFromCstr reads them (every ill-formed sequence one
// U+FFFD), so that the header codecs read octets without making a string. A header value of usual size
// stays on the stack; a longer one takes a buffer of its own, freed with this object.
class Utf8CodePoints {
 public:
  Utf8CodePoints(const char *octets, size_t length);
  Utf8CodePoints(const Utf8CodePoints &) = delete;
  Utf8CodePoints &operator=(const Utf8CodePoints &) = delete;
  CodePoints chars() const { return {data_, size_}; }

 private:
  kxChar small_[256];
  CodePointBuffer large_;
  kxChar *data_;
  size_t size_ = 0;
};

}  // namespace mime
