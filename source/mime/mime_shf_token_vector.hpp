// Internal to the library: the tokenizer and the fold rule of mime_shf_token_vector.cpp working on code
// points, for header codecs that read or write a whole value without a token object per token.
#pragma once

#include <vector>

#include "mime/mime_char.h"
#include "mime/mime_shf_token.hpp"
#include "mime/mime_shf_token_vector.h"

namespace mime {

// One token of a header value: its type (MIME_SHF_TOKEN_TYPE_...) and where its raw value lies in the text.
struct ShfTokenSpan {
  kxInt type;
  kxInt start;
  kxInt length;
};

// The length and *type of the token that starts at offset, a code point that is neither white space nor a
// control character; -1 when it starts a malformed quoted string, domain literal or comment.
kxInt scanShfToken(CodePoints text, kxInt offset, kxInt *type);

// Records why the token that starts at offset is malformed (scanShfToken answered -1 for it): the kind of
// fault and the offset where it lies. Only called on the failure path.
void recordMalformedToken(CodePoints text, kxInt offset);

// Calls onToken with every token of text in order, cut and typed exactly as mimeShfTokenVectorTryDecode cuts
// and types them (comments included). False, with the fault recorded, when the text is malformed; onToken
// has then seen the tokens before the fault. White space, line breaks and control characters between tokens
// are skipped one by one (a stray CR or LF at the top level is no error). Linear: every code point is looked
// at a bounded number of times, and comments nest by a counter, not by recursion.
// Token runs and tspecials, by far the most tokens, are cut here, the delimited tokens by scanShfToken.
template <typename OnToken>
bool scanShfTokens(CodePoints text, OnToken onToken) {
  const auto length = static_cast<kxInt>(text.size());
  const kxChar *at = text.data();
  kxInt offset = 0;
  while (offset < length) {
    const kxChar c = at[offset];
    // One class lookup sorts the code point: a token starts (non-ASCII too), a tspecial, or else white space
    // or a control character, which is skipped.
    const unsigned bits = c < 128 ? unsigned{chars::kClassTable.bits[c]} : unsigned{chars::kToken};
    if (bits & chars::kToken) {
      const kxChar *end = at + offset + 1;
      while (end != at + length && chars::isTokenChar(*end)) ++end;
      const auto tokenLength = static_cast<kxInt>(end - at) - offset;
      onToken(ShfTokenSpan{MIME_SHF_TOKEN_TYPE_TOKEN, offset, tokenLength});
      offset += tokenLength;
      continue;
    }
    if (!(bits & chars::kTspecial)) {
      ++offset;
      continue;
    }
    kxInt type;
    kxInt tokenLength = 1;
    if (c != '"' && c != '[' && c != '(') {
      type = MIME_SHF_TOKEN_TYPE_TSPECIAL;
    } else {
      tokenLength = scanShfToken(text, offset, &type);
      if (tokenLength < 0) {
        recordMalformedToken(text, offset);
        return false;
      }
    }
    onToken(ShfTokenSpan{type, offset, tokenLength});
    offset += tokenLength;
  }
  return true;
}

// The output of mimeShfTokenVectorEncode, written token by token with its fold rule.
class FoldingWriter {
 public:
  // Aborts as the encoder does on a negative firstLineOffset ("firstLineOffset >= 0").
  FoldingWriter(MIME_OPTIONS *mo, kxInt firstLineOffset);

  // Makes room for about that many more code points, so that writing them grows the buffer once.
  void reserve(size_t codePoints) { out_.reserve(out_.size() + codePoints); }

  // Writes one raw value: first CR LF SP when the line is already longer than the fold length, otherwise
  // one SP when space is set. Aborts as the encoder does when the line length would overflow.
  void write(CodePoints rawValue, bool space);

  // Writes CR LF SP when the line is already longer than the fold length (never with -1), for writers that
  // choose where a fold may fall.
  void foldIfLong();

  // Writes raw text with no fold and no space before it; it counts into the line as write does.
  void append(CodePoints raw);

  // Writes text as a quoted string when quoted is set or it is no token, else as it is; no fold before it.
  void appendTokenOrQuotedString(CodePoints text, bool quoted);

  // The value written so far, as a new string owned by the caller.
  KX_STRING *finish() const;

 private:
  CodePointBuffer out_;
  kxInt lineLength_;
  kxInt wrapLineLength_;
};

}  // namespace mime
