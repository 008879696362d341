// MIME_SHF_TOKEN: one lexical token of a structured header field value, its creation from plain text, the
// classification of raw header text, and the plain value read back.
//
//   tspecials      := "(" / ")" / "<" / ">" / "@" / "," / ";" / ":" / "\" / <"> / "/" / "[" / "]" / "?" / "="
//   token          := 1*<any char except tspecials, SP and CTLs>        ; non-ASCII is accepted
//   quoted-string  := <"> *(qtext / quoted-pair) <">
//   domain-literal := "[" *(dtext / quoted-pair) "]"
//   comment        := "(" *(ctext / quoted-pair / comment) ")"
//   quoted-pair    := "\" CHAR
#include "mime/mime_shf_token.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kx/kx_libraries.hpp"
#include "mime/mime_char.h"
#include "mime/mime_object.hpp"
#include "mime/mime_shf_token.hpp"

// Immutable after creation.
struct MIME_SHF_TOKEN {
  KX_OBJ obj;
  kxInt type;           // MIME_SHF_TOKEN_TYPE_...
  KX_STRING *rawValue;  // owned, never null
};

MIME_DEFINE_SORT_RECORD(MIME_SHF_TOKEN, mime___ShfTokenFreeFunc, nullptr, nullptr);
MIME_DEFINE_OBJECT_FAMILY(ShfToken, MIME_SHF_TOKEN)

using kx::Ref;
namespace chars = mime::chars;

namespace {
using CodePoints = std::span<const kxChar>;
MIME_SHF_TOKEN *createToken(kxInt type, KX_STRING *rawValue);
CodePoints codePointsOf(KX_STRING *s);
KX_STRING *stringOf(const std::vector<kxChar> &chars);
kxInt classifyRawValue(CodePoints raw);
}  // namespace

extern "C" {

// --- creation ---

MIME_SHF_TOKEN *mimeShfTokenCreateTspecial(kxChar tspecial) {
  // No reformatting: the expression text is part of the contract.
  // clang-format off
  MIME_ASSERT(mime___CharIsTspecial( tspecial ));
  // clang-format on
  Ref<KX_STRING> raw(kxStringCreateFromChars(&tspecial, 1));
  return createToken(MIME_SHF_TOKEN_TYPE_TSPECIAL, raw.get());
}

// A token when every character may stand bare; otherwise a quoted string in which CR, <"> and "\" are
// escaped (LF, HTAB and the other tspecials need no escape between quotation marks).
MIME_SHF_TOKEN *mimeShfTokenCreateTokenOrQuotedString(KX_STRING *tokenOrQuotedString) {
  MIME_ASSERT(tokenOrQuotedString);
  std::vector<kxChar> out;
  const kxInt type = mime::appendTokenOrQuotedString(codePointsOf(tokenOrQuotedString), out);
  Ref<KX_STRING> raw(stringOf(out));
  return createToken(type, raw.get());
}

MIME_SHF_TOKEN *mimeShfTokenCreateTokenOrQuotedStringCstr(const char *tokenOrQuotedString, kxInt length) {
  MIME_ASSERT(tokenOrQuotedString);
  Ref<KX_STRING> text(kxStringCreateFromCstr(tokenOrQuotedString, length));
  return mimeShfTokenCreateTokenOrQuotedString(text.get());
}

MIME_SHF_TOKEN *mimeShfTokenCreateTokenOrQuotedStringWcstr(const wchar_t *tokenOrQuotedString, kxInt length) {
  MIME_ASSERT(tokenOrQuotedString);
  Ref<KX_STRING> text(kxStringCreateFromWcstr(tokenOrQuotedString, length));
  return mimeShfTokenCreateTokenOrQuotedString(text.get());
}

// Parentheses around the text; CR, LF and every tspecial escaped, so nothing inside can close the comment,
// open a nested one or look like a fold.
MIME_SHF_TOKEN *mimeShfTokenCreateComment(KX_STRING *comment) {
  MIME_ASSERT(comment);
  CodePoints text = codePointsOf(comment);
  std::vector<kxChar> out;
  out.reserve(text.size() + 2);
  out.push_back('(');
  for (kxChar c : text) {
    if (chars::isCr(c) || chars::isLf(c) || chars::isTspecial(c)) out.push_back('\\');
    out.push_back(c);
  }
  out.push_back(')');
  Ref<KX_STRING> raw(stringOf(out));
  return createToken(MIME_SHF_TOKEN_TYPE_COMMENT, raw.get());
}

MIME_SHF_TOKEN *mimeShfTokenCreateCommentCstr(const char *comment, kxInt length) {
  MIME_ASSERT(comment);
  Ref<KX_STRING> text(kxStringCreateFromCstr(comment, length));
  return mimeShfTokenCreateComment(text.get());
}

MIME_SHF_TOKEN *mimeShfTokenCreateCommentWcstr(const wchar_t *comment, kxInt length) {
  MIME_ASSERT(comment);
  Ref<KX_STRING> text(kxStringCreateFromWcstr(comment, length));
  return mimeShfTokenCreateComment(text.get());
}

MIME_SHF_TOKEN *mimeShfTokenCreateRawValue(KX_STRING *rawValue) {
  MIME_ASSERT(rawValue);
  kxInt type = classifyRawValue(codePointsOf(rawValue));
  if (type < 0) KX_UNREACHABLE();  // fits no shape: the caller broke the contract
  return createToken(type, rawValue);
}

MIME_SHF_TOKEN *mimeShfTokenCreateRawValueCstr(const char *rawValue, kxInt length) {
  MIME_ASSERT(rawValue);
  Ref<KX_STRING> text(kxStringCreateFromCstr(rawValue, length));
  return mimeShfTokenCreateRawValue(text.get());
}

MIME_SHF_TOKEN *mimeShfTokenCreateRawValueWcstr(const wchar_t *rawValue, kxInt length) {
  MIME_ASSERT(rawValue);
  Ref<KX_STRING> text(kxStringCreateFromWcstr(rawValue, length));
  return mimeShfTokenCreateRawValue(text.get());
}

// --- queries ---

kxInt mimeShfTokenType(MIME_SHF_TOKEN *tok) {
  MIME_ASSERT(tok);
  return tok->type;
}

KX_STRING *mimeShfTokenRawValue(MIME_SHF_TOKEN *tok) {
  MIME_ASSERT(tok);
  return mime::retainField(tok->rawValue);
}

KX_STRING *mimeShfTokenValue(MIME_SHF_TOKEN *tok) {
  MIME_ASSERT(tok);
  if (tok->type == MIME_SHF_TOKEN_TYPE_TSPECIAL || tok->type == MIME_SHF_TOKEN_TYPE_TOKEN)
    return mime::retainField(tok->rawValue);
  std::vector<kxChar> value;
  mime::appendUnescapedInner(codePointsOf(tok->rawValue), value);
  return stringOf(value);
}

// --- sort function ---

void mime___ShfTokenFreeFunc(KX_OBJ *obj) {
  mime::killField(&reinterpret_cast<MIME_SHF_TOKEN *>(obj)->rawValue);
}

}  // extern "C"

namespace mime {

// --- the creators' text rules, for the header codecs ---

MIME_SHF_TOKEN *createShfTokenOfType(kxInt type, KX_STRING *rawValue) {
  return createToken(type, rawValue);
}

CodePoints shfTokenRawText(MIME_SHF_TOKEN *tok) {
  return codePointsOf(tok->rawValue);
}

kxInt appendTokenOrQuotedString(CodePoints text, CodePointBuffer &out) {
  const auto firstOther = std::find_if_not(text.begin(), text.end(), chars::isTokenChar);
  if (!text.empty() && firstOther == text.end()) {
    out.insert(out.end(), text.begin(), text.end());
    return MIME_SHF_TOKEN_TYPE_TOKEN;
  }
  appendQuotedString(text, out);
  return MIME_SHF_TOKEN_TYPE_QUOTED_STRING;
}

// CR, '"' and "\\" escaped; the run of token characters before the first other one is copied as it is.
void appendQuotedString(CodePoints text, CodePointBuffer &out) {
  const auto firstOther = std::find_if_not(text.begin(), text.end(), chars::isTokenChar);
  out.push_back('"');
  out.insert(out.end(), text.begin(), firstOther);
  for (auto it = firstOther; it != text.end(); ++it) {
    const kxChar c = *it;
    if (chars::isCr(c) || chars::isQuotationMark(c) || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// The text between the delimiters with every quoted-pair resolved; folds and nested parentheses stay.
void appendUnescapedInner(CodePoints raw, CodePointBuffer &out) {
  CodePoints inner = raw.subspan(1, raw.size() - 2);
  const kxInt length = static_cast<kxInt>(inner.size());
  if (out.capacity() - out.size() < inner.size())
    out.reserve(std::max(out.size() + inner.size(), 2 * out.capacity()));
  for (kxInt i = 0; i < length; ++i) {
    if (inner[i] == '\\') {
      // No reformatting: the expression text is part of the contract.
      // clang-format off
      MIME_ASSERT(i<length-1);
      // clang-format on
      ++i;
    }
    out.push_back(inner[i]);
  }
}

Utf8CodePoints::Utf8CodePoints(const char *octets, size_t length) : data_(small_) {
  if (length > std::size(small_)) {
    large_.resize(length);  // never more code points than octets
    data_ = large_.data();
  }
  const auto *p = reinterpret_cast<const kxByte *>(octets);
  const kxByte *end = p + length;
  while (p != end) {
#if defined(__SSE2__)
    if (end - p >= 16) {  // ASCII: sixteen at a time, widened to code points in four stores
      const __m128i octets = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
      if (_mm_movemask_epi8(octets) == 0) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = _mm_unpacklo_epi8(octets, zero);
        const __m128i high = _mm_unpackhi_epi8(octets, zero);
        auto *out = reinterpret_cast<__m128i *>(data_ + size_);
        _mm_storeu_si128(out, _mm_unpacklo_epi16(low, zero));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(low, zero));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(high, zero));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(high, zero));
        size_ += 16;
        p += 16;
        continue;
      }
    }
#endif
    std::uint64_t eight;
    if (end - p >= 8 && (std::memcpy(&eight, p, 8), (eight & 0x8080808080808080ULL) == 0)) {
      for (int i = 0; i < 8; ++i) data_[size_ + i] = p[i];  // ASCII: eight at a time
      size_ += 8;
      p += 8;
    } else if (*p < 0x80) {
      data_[size_++] = *p++;
    } else {
      p = kx::utf8::decode(p, end, &data_[size_++]);
    }
  }
}

namespace {

// The shared words (each shorter than kLongest code points).
constexpr size_t kLongest = 32;
constexpr std::string_view kSharedWords[] = {"text/plain",
                                             "text/html",
                                             "multipart/mixed",
                                             "multipart/alternative",
                                             "multipart/related",
                                             "multipart/signed",
                                             "multipart/report",
                                             "multipart/digest",
                                             "application/octet-stream",
                                             "application/pdf",
                                             "message/rfc822",
                                             "message/delivery-status",
                                             "image/jpeg",
                                             "image/png",
                                             "image/gif",
                                             "boundary",
                                             "charset",
                                             "name",
                                             "filename",
                                             "format",
                                             "size",
                                             "creation-date",
                                             "modification-date",
                                             "read-date",
                                             "delsp",
                                             "type",
                                             "start",
                                             "protocol",
                                             "micalg",
                                             "report-type",
                                             "id",
                                             "number",
                                             "total",
                                             "access-type",
                                             "utf-8",
                                             "UTF-8",
                                             "us-ascii",
                                             "US-ASCII",
                                             "iso-8859-1",
                                             "ISO-8859-1",
                                             "windows-1252",
                                             "flowed",
                                             "fixed",
                                             "yes",
                                             "no",
                                             "attachment",
                                             "inline",
                                             "form-data"};

// Where a word of these code points is looked for in the table: its length and the first, middle and last
// code point, which tell the shared words apart with few collisions.
constexpr size_t kSlots = 256;  // a power of two, over twice the words: probes stay short
size_t slotOf(size_t length, kxChar first, kxChar middle, kxChar last) {
  return (length * 131 + first * 31 + middle * 7 + last) & (kSlots - 1);
}

// The shared words in an open-addressing table, as code points so that a candidate is compared with one
// memcmp; an empty slot has length 0.
struct SharedWords {
  struct Slot {
    size_t length = 0;
    kxChar chars[kLongest] = {};
    KX_STRING *string = nullptr;
  };
  Slot slots[kSlots];

  SharedWords() {
    for (std::string_view word : kSharedWords) {
      Slot candidate;
      candidate.length = word.size();
      std::copy(word.begin(), word.end(), candidate.chars);
      for (kxChar &c : candidate.chars) c = static_cast<unsigned char>(c);
      candidate.string = kxStringCreateFromCstr(word.data(), static_cast<kxInt>(word.size()));
      size_t at = slotOf(word.size(), candidate.chars[0], candidate.chars[word.size() / 2],
                         candidate.chars[word.size() - 1]);
      while (slots[at].length != 0) at = (at + 1) & (kSlots - 1);
      slots[at] = candidate;
    }
  }

  KX_STRING *find(CodePoints chars) const {
    const size_t n = chars.size();
    for (size_t at = slotOf(n, chars[0], chars[n / 2], chars[n - 1]); slots[at].length != 0;
         at = (at + 1) & (kSlots - 1)) {
      if (slots[at].length == n && std::memcmp(slots[at].chars, chars.data(), n * sizeof(kxChar)) == 0)
        return slots[at].string;
    }
    return nullptr;
  }
};

}  // namespace

KX_STRING *sharedWord(CodePoints chars) {
  // Made once and never freed, so that no exit-time destructor runs before a last decode that needs them.
  static const SharedWords *const words = new SharedWords();
  if (chars.empty() || chars.size() >= kLongest) return nullptr;
  KX_STRING *shared = words->find(chars);
  return shared ? retainField(shared) : nullptr;
}

KX_STRING *sharedString(CodePoints chars) {
  if (KX_STRING *shared = sharedWord(chars)) return shared;
  return kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size()));
}

}  // namespace mime

namespace {

// --- helpers ---

// The token keeps its own reference to rawValue.
MIME_SHF_TOKEN *createToken(kxInt type, KX_STRING *rawValue) {
  MIME_SHF_TOKEN *tok = mime::createObject<MIME_SHF_TOKEN>(&mime___sort_MIME_SHF_TOKEN);
  tok->type = type;
  tok->rawValue = mime::retainField(rawValue);
  return tok;
}

CodePoints codePointsOf(KX_STRING *s) {
  return CodePoints(kxStringBacking(s), static_cast<size_t>(kxStringLength(s)));
}

KX_STRING *stringOf(const std::vector<kxChar> &chars) {
  return kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size()));
}

// --- classification of raw header text ---

// Scans the characters between the delimiters raw[0] and raw[last]. A "\" escapes the character after it,
// which is not examined, but may not escape the closing delimiter. Without nesting, an unescaped open or
// close delimiter inside disqualifies; with nesting (comments) they must balance.
bool innerFits(CodePoints raw, kxChar open, kxChar close, bool nesting) {
  const size_t last = raw.size() - 1;
  kxInt depth = 0;
  for (size_t i = 1; i < last; ++i) {
    const kxChar c = raw[i];
    if (c == '\\') {
      if (i == last - 1) return false;
      ++i;
    } else if (!nesting) {
      if (c == open || c == close) return false;
    } else if (c == open) {
      ++depth;
    } else if (c == close) {
      if (depth == 0) return false;
      --depth;
    }
  }
  return depth == 0;
}

bool delimitedBy(CodePoints raw, kxChar open, kxChar close) {
  return raw.size() >= 2 && raw.front() == open && raw.back() == close;
}

// The type the shape of raw gives, the shapes tried in this order; -1 when none fits.
kxInt classifyRawValue(CodePoints raw) {
  if (raw.size() == 1 && chars::isTspecial(raw[0])) return MIME_SHF_TOKEN_TYPE_TSPECIAL;
  if (delimitedBy(raw, '"', '"') && innerFits(raw, '"', '"', false)) return MIME_SHF_TOKEN_TYPE_QUOTED_STRING;
  if (delimitedBy(raw, '[', ']') && innerFits(raw, '[', ']', false))
    return MIME_SHF_TOKEN_TYPE_DOMAIN_LITERAL;
  if (delimitedBy(raw, '(', ')') && innerFits(raw, '(', ')', true)) return MIME_SHF_TOKEN_TYPE_COMMENT;
  if (raw.empty()) return -1;
  for (kxChar c : raw)
    if (!chars::isTokenChar(c)) return -1;
  return MIME_SHF_TOKEN_TYPE_TOKEN;
}

}  // namespace
