// Structured header field values as token vectors: the folding encoder and the tokenizer.
#include "mime/mime_shf_token_vector.h"

#include <span>
#include <vector>

#include "mime/mime_char.h"
#include "mime/mime_failure.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_shf_token.h"
#include "mime/mime_shf_token_vector.hpp"

using kx::Ref;
namespace chars = mime::chars;

namespace {

using CodePoints = std::span<const kxChar>;

// --- output sinks of the fold rule ---

constexpr kxChar kFold[3] = {0x0D, 0x0A, 0x20};  // CR LF SP: a line break and the space that continues
constexpr kxChar kSpace[1] = {0x20};

// Amortised appends into one buffer, which becomes one kx string at the end.
struct CodePointSink {
  std::vector<kxChar> &chars;
  void write(CodePoints text) const {
    if (text.size() == 1) {
      chars.push_back(text[0]);  // a tspecial or the space: no call to copy one code point
    } else {
      chars.insert(chars.end(), text.begin(), text.end());
    }
  }
};

struct StringSink {
  KX_STRING **out;
  void write(CodePoints text) const {
    kxStringAppendChars(out, text.data(), static_cast<kxInt>(text.size()));
  }
};

template <typename Sink>
void appendWithFold(Sink &out, CodePoints append, bool space, kxInt *curLineLength, kxInt wrapLineLength);
template <typename Sink>
bool foldIfLong(Sink &out, bool space, kxInt *curLineLength, kxInt wrapLineLength);
void addToLine(kxInt *curLineLength, kxInt appendLength, bool space);
MIME_SHF_TOKEN *tokenAt(KX_OBJ *const *tokens, kxInt index);
bool isValueToken(MIME_SHF_TOKEN *tok);
bool isGlueTspecial(MIME_SHF_TOKEN *tok);
// Where and why a delimited token is malformed, filled in by its scan when asked for.
struct TokenFault {
  kxInt kind;
  kxInt offset;
};
kxInt scanDelimited(CodePoints text, kxInt start, kxChar close, bool isDomainLiteral,
                    TokenFault *fault = nullptr);
kxInt scanComment(CodePoints text, kxInt start, TokenFault *fault = nullptr);
kxInt scanTokenRun(CodePoints text, kxInt start);
}  // namespace

extern "C" {

// --- encoding ---

// A main token is followed by glued pairs (one of the tspecials @,;:\"/?= and a token or quoted string)
// as long as they come, so that "text", "/", "plain", ";", "charset", "=", "us-ascii" reads
// text/plain;charset=us-ascii. Every other neighbour is separated by a space.
KX_STRING *mimeShfTokenVectorEncode(KX_VECTOR *vec, MIME_OPTIONS *mo, kxInt firstLineOffset) {
  MIME_ASSERT(vec);
  MIME_ASSERT(mo);
  // No reformatting: the expression texts are part of the contract.
  // clang-format off
  MIME_ASSERT(kxVectorContainsOnly( vec, mimeShfTokenSort() ));
  // clang-format on
  mime::FoldingWriter out(mo, firstLineOffset);
  const kxInt length = kxVectorLength(vec);
  KX_OBJ *const *tokens = kxVectorBacking(vec);
  for (kxInt j = 0; j < length; ++j) {
    MIME_SHF_TOKEN *main = tokenAt(tokens, j);
    out.write(mime::shfTokenRawText(main), j != 0);
    if (!isValueToken(main)) continue;
    while (j + 2 < length && isGlueTspecial(tokenAt(tokens, j + 1)) && isValueToken(tokenAt(tokens, j + 2))) {
      out.write(mime::shfTokenRawText(tokenAt(tokens, j + 1)), false);
      out.write(mime::shfTokenRawText(tokenAt(tokens, j + 2)), false);
      j += 2;
    }
  }
  return out.finish();
}

void mime___ShfTokenVectorAppend(KX_STRING **out, KX_STRING *append, kxBool space, kxInt *curLineLength,
                                 kxInt wrapLineLength) {
  MIME_ASSERT(out);
  MIME_ASSERT(*out);
  MIME_ASSERT(append);
  MIME_ASSERT(curLineLength);
  MIME_ASSERT(*curLineLength >= 0);
  MIME_ASSERT(wrapLineLength >= -1);
  StringSink sink{out};
  CodePoints text(kxStringBacking(append), static_cast<size_t>(kxStringLength(append)));
  appendWithFold(sink, text, space != 0, curLineLength, wrapLineLength);
}

// --- decoding ---

// One token object per token, made as the scan finds it; on malformed text the tokens so far go with
// `tokens`.
KX_VECTOR *mimeShfTokenVectorTryDecode(KX_STRING *string) {
  MIME_ASSERT(string);
  mime::clearFailure("header value");
  const kxChar *backing = kxStringBacking(string);
  const CodePoints text(backing, static_cast<size_t>(kxStringLength(string)));
  Ref<KX_VECTOR> tokens(kxVectorCreate());
  const bool wellFormed = mime::scanShfTokens(text, [&tokens, backing](const mime::ShfTokenSpan &span) {
    Ref<KX_STRING> raw(kxStringCreateFromChars(backing + span.start, span.length));
    Ref<MIME_SHF_TOKEN> tok(mime::createShfTokenOfType(span.type, raw.get()));
    kxVectorAppendObj(tokens.addr(), mimeShfTokenObj(tok.get()));
  });
  return wellFormed ? tokens.release() : nullptr;
}

// One pass: the kept tokens go into a new vector that replaces the caller's, instead of one deletion (and
// one shift of the rest) per comment, which would be quadratic in the number of comments.
void mimeShfTokenVectorDelComments(KX_VECTOR **vec) {
  MIME_ASSERT(vec);
  MIME_ASSERT(*vec);
  const kxInt length = kxVectorLength(*vec);
  KX_OBJ *const *elements = kxVectorBacking(*vec);
  kxInt comments = 0;
  for (kxInt i = 0; i < length; ++i) {
    MIME_SHF_TOKEN *tok = mimeShfTokenFrom(elements[i]);
    MIME_ASSERT(tok);
    if (mimeShfTokenType(tok) == MIME_SHF_TOKEN_TYPE_COMMENT) ++comments;
  }
  if (comments == 0) return;
  Ref<KX_VECTOR> kept(kxVectorCreate());
  for (kxInt i = 0; i < length; ++i)
    if (mimeShfTokenType(mimeShfTokenFrom(elements[i])) != MIME_SHF_TOKEN_TYPE_COMMENT)
      kxVectorAppendObj(kept.addr(), elements[i]);
  Ref<KX_VECTOR> old(*vec);  // released on return; other holders keep seeing it unchanged
  *vec = kept.release();
}

}  // extern "C"

namespace mime {

// --- tokens as spans ---

kxInt scanShfToken(CodePoints text, kxInt offset, kxInt *type) {
  const kxChar *backing = text.data();
  const kxChar c = backing[offset];
  if (chars::isQuotationMark(c)) {
    *type = MIME_SHF_TOKEN_TYPE_QUOTED_STRING;
    return scanDelimited(text, offset, '"', false);
  }
  if (c == '[') {
    *type = MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL;
    return scanDelimited(text, offset, ']', true);
  }
  if (c == '(') {
    *type = MIME_SHF_TOKEN_TYPE_COMMENT;
    return scanComment(text, offset);
  }
  if (!chars::isTspecial(c)) {
    *type = MIME_SHF_TOKEN_TYPE_TOKEN;
    return scanTokenRun(text, offset);
  }
  // No reformatting: the expression text is part of the contract.
  // clang-format off
  MIME_ASSERT(mime___CharIsTspecial( backing[offset] ));
  // clang-format on
  *type = MIME_SHF_TOKEN_TYPE_TSPECIAL;
  return 1;
}

void recordMalformedToken(CodePoints text, kxInt offset) {
  TokenFault fault{MIME_FAILURE_NONE, offset};
  const kxChar c = text[static_cast<size_t>(offset)];
  if (c == '(') {
    scanComment(text, offset, &fault);
  } else {
    scanDelimited(text, offset, c == '[' ? ']' : '"', c == '[', &fault);
  }
  fail(fault.kind, fault.offset);
}

// --- the folding writer ---

FoldingWriter::FoldingWriter(MIME_OPTIONS *mo, kxInt firstLineOffset) {
  MIME_ASSERT(firstLineOffset >= 0);
  lineLength_ = firstLineOffset;
  wrapLineLength_ = mimeOptionsWrapLineLength(mo);
}

void FoldingWriter::write(CodePoints rawValue, bool space) {
  CodePointSink sink{out_};
  appendWithFold(sink, rawValue, space, &lineLength_, wrapLineLength_);
}

void FoldingWriter::foldIfLong() {
  CodePointSink sink{out_};
  ::foldIfLong(sink, false, &lineLength_, wrapLineLength_);
}

void FoldingWriter::append(CodePoints raw) {
  addToLine(&lineLength_, static_cast<kxInt>(raw.size()), false);
  CodePointSink{out_}.write(raw);
}

// The raw value goes straight into the output, so its length is counted once it is there; the output is
// not seen by anyone before then.
void FoldingWriter::appendTokenOrQuotedString(CodePoints text, bool quoted) {
  const size_t before = out_.size();
  if (quoted) {
    appendQuotedString(text, out_);
  } else {
    mime::appendTokenOrQuotedString(text, out_);
  }
  addToLine(&lineLength_, static_cast<kxInt>(out_.size() - before), false);
}

KX_STRING *FoldingWriter::finish() const {
  return kxStringCreateFromChars(out_.data(), static_cast<kxInt>(out_.size()));
}

}  // namespace mime

namespace {

// --- the fold rule ---

// Before every written token: fold when the line is already longer than wrapLineLength (-1: never), which
// also stands for the separating space; otherwise write the space if one is due. The test looks only at the
// line as it is, so a line may end up longer by one space and one token; a token is never split.
template <typename Sink>
void appendWithFold(Sink &out, CodePoints append, bool space, kxInt *curLineLength, kxInt wrapLineLength) {
  const kxInt appendLength = static_cast<kxInt>(append.size());
  space = foldIfLong(out, space, curLineLength, wrapLineLength);
  addToLine(curLineLength, appendLength, space);
  if (space) out.write(kSpace);
  out.write(append);
}

// The fold before a token when the line is already longer than wrapLineLength; whether the separating space
// is still due (a fold stands for it).
template <typename Sink>
bool foldIfLong(Sink &out, bool space, kxInt *curLineLength, kxInt wrapLineLength) {
  if (wrapLineLength == -1 || *curLineLength <= wrapLineLength) return space;
  out.write(kFold);
  *curLineLength = 1;
  return false;
}

// Counts a token and the space before it into the line length; an overflow aborts.
void addToLine(kxInt *curLineLength, kxInt appendLength, bool space) {
  // No reformatting: the expression texts are part of the contract. The overflow test compares the bool
  // !!space with 0, which the compilers rightly call always true; it is harmless here.
#pragma GCC diagnostic push
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wtautological-constant-out-of-range-compare"
#else
#pragma GCC diagnostic ignored "-Wbool-compare"
#endif
  // clang-format off
  MIME_ASSERT(KX_INT_ADD_OK( appendLength, !!space ));
  MIME_ASSERT(KX_INT_ADD_OK( *curLineLength, appendLength + !!space ));
  // clang-format on
#pragma GCC diagnostic pop
  *curLineLength += appendLength + !!space;
}

// --- token tests of the glue rule ---

MIME_SHF_TOKEN *tokenAt(KX_OBJ *const *tokens, kxInt index) {
  return reinterpret_cast<MIME_SHF_TOKEN *>(tokens[index]);
}

// An RFC 2045 value: a token or a quoted string.
bool isValueToken(MIME_SHF_TOKEN *tok) {
  const kxInt type = mimeShfTokenType(tok);
  return type == MIME_SHF_TOKEN_TYPE_TOKEN || type == MIME_SHF_TOKEN_TYPE_QUOTED_STRING;
}

// The tspecials that join values without a space; ( ) < > [ ] never do.
bool isGlueTspecial(MIME_SHF_TOKEN *tok) {
  if (mimeShfTokenType(tok) != MIME_SHF_TOKEN_TYPE_TSPECIAL) return false;
  switch (mime::shfTokenRawText(tok)[0]) {
    case '@':
    case ',':
    case ';':
    case ':':
    case '\\':
    case '"':
    case '/':
    case '?':
    case '=':
      return true;
    default:
      return false;
  }
}

// --- delimited tokens of the tokenizer ---
//
//   quoted-string  := <"> *(qtext / quoted-pair / CRLF LWSP-char) <">
//   domain-literal := "[" *(dtext / quoted-pair / CRLF LWSP-char) "]"    ; an unescaped "[" is malformed
//   comment        := "(" *(ctext / quoted-pair / CRLF LWSP-char / comment) ")"
//
// Inside, a "\" takes the next code point whatever it is, and a CR must start a fold (CR LF and SP or HTAB).
// A bare LF, other control characters and non-ASCII are taken as they are. Each scan returns the length of
// the token from its opening character, or -1 when the text is malformed.

enum class Step { kNext, kUnclosed, kBareCr, kTaken };

// The quoted-pair and fold rules shared by every delimited token; advances *k past what it took.
Step escapeOrFold(CodePoints text, kxInt start, kxInt *k) {
  const kxInt n = static_cast<kxInt>(text.size());
  const kxInt at = start + *k;
  if (text[at] == '\\') {
    if (at + 1 >= n) return Step::kUnclosed;  // the escape takes the end of the text
    *k += 2;
    return Step::kTaken;
  }
  if (chars::isCr(text[at])) {
    if (at + 2 >= n || !chars::isLf(text[at + 1]) || !chars::isLwsp(text[at + 2])) return Step::kBareCr;
    *k += 3;
    return Step::kTaken;
  }
  return Step::kNext;
}

// The answer of a scan on a malformed token: -1, and the fault where the caller asked for it.
kxInt malformed(TokenFault *fault, kxInt kind, kxInt offset) {
  if (fault) *fault = {kind, offset};
  return -1;
}

kxInt malformedStep(TokenFault *fault, Step step, kxInt unclosedKind, kxInt start, kxInt k) {
  return step == Step::kBareCr ? malformed(fault, MIME_FAILURE_CR_WITHOUT_FOLD, start + k)
                               : malformed(fault, unclosedKind, start);
}

kxInt scanDelimited(CodePoints text, kxInt start, kxChar close, bool isDomainLiteral, TokenFault *fault) {
  const kxInt n = static_cast<kxInt>(text.size());
  const kxInt unclosed =
      isDomainLiteral ? MIME_FAILURE_UNCLOSED_DOMAIN_LITERAL : MIME_FAILURE_UNCLOSED_QUOTED_STRING;
  kxInt k = 1;
  while (start + k < n) {
    const kxChar plain = text[start + k];
    if (plain == close) return k + 1;
    if (plain != '\\' && !chars::isCr(plain) && !(isDomainLiteral && plain == '[')) {
      ++k;  // most of the text: nothing to escape, fold or refuse
      continue;
    }
    const Step step = escapeOrFold(text, start, &k);
    if (step == Step::kTaken) continue;
    if (step != Step::kNext) return malformedStep(fault, step, unclosed, start, k);
    const kxChar d = text[start + k];
    if (d == close) return k + 1;
    if (isDomainLiteral && d == '[') return malformed(fault, MIME_FAILURE_NESTED_DOMAIN_LITERAL, start + k);
    ++k;
  }
  return malformed(fault, unclosed, start);
}

// Comments nest: the depth counts unescaped parentheses, and the one that brings it to 0 closes.
kxInt scanComment(CodePoints text, kxInt start, TokenFault *fault) {
  const kxInt n = static_cast<kxInt>(text.size());
  kxInt depth = 1;
  kxInt k = 1;
  while (start + k < n) {
    const Step step = escapeOrFold(text, start, &k);
    if (step == Step::kTaken) continue;
    if (step != Step::kNext) return malformedStep(fault, step, MIME_FAILURE_UNCLOSED_COMMENT, start, k);
    const kxChar d = text[start + k];
    if (d == '(') ++depth;
    if (d == ')' && --depth == 0) return k + 1;
    ++k;
  }
  return malformed(fault, MIME_FAILURE_UNCLOSED_COMMENT, start);
}

// token := 1*<any code point except tspecials, SP and CTLs>; non-ASCII belongs to the run.
kxInt scanTokenRun(CodePoints text, kxInt start) {
  const kxInt n = static_cast<kxInt>(text.size());
  kxInt end = start;
  while (end < n && chars::isTokenChar(text[end])) ++end;
  return end - start;
}

}  // namespace
