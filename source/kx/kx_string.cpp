// Strings of code points: the object, creators, accessors, copy-on-write appends, and the text operations
// (UTF-8 output, comparisons with C strings, search, split, trim, ASCII lower-casing).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "kx/kx_string_internal.hpp"
#include "kx/kx_utf8.hpp"
#include "kx/kx_vector.h"

namespace {
void freeString(KX_OBJ *obj);
kxInt compareStrings(KX_OBJ *a, KX_OBJ *b);
KX_STRING *stringToString(KX_OBJ *obj);
KX_STRING *asString(KX_OBJ *obj) {
  return reinterpret_cast<KX_STRING *>(obj);
}
KX_STRING *copyString(KX_STRING *s, kxInt extra);
void releaseSlack(KX_STRING *s);
bool isInline(KX_STRING *s);
}  // namespace

namespace {
using Chars = std::span<const kxChar>;
Chars charsOf(KX_STRING *s) {
  return Chars(kxStringBacking(s), static_cast<size_t>(s->length));
}
kxInt cstrLength(const char *cstr, kxInt length);
kxChar asciiLower(kxChar c) {
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}
bool isTrimmed(kxChar c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
template <typename Fold>
kxBool equalsUtf8(KX_STRING *s, const char *cstr, kxInt length, Fold fold);
void appendPiece(KX_VECTOR **pieces, KX_STRING *s, kxInt start, kxInt end);
std::vector<kxInt> failureTable(Chars pattern);
}  // namespace

KX_SORT kx___sort_KX_STRING = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                               nullptr,
                               "KX_STRING",
                               freeString,
                               compareStrings,
                               stringToString,
                               {}};

KX_DEFINE_KIND_BASICS(String, KX_STRING)

extern "C" {

KX_STRING *kxStringCreate(void) {
  return kx::stringCreateWithCapacity(0);
}

KX_STRING *kxStringCreateFromCstr(const char *cstr, kxInt length) {
  KX_ASSERT(cstr || length == 0);
  KX_ASSERT(length >= -1);
  if (length < 0) length = static_cast<kxInt>(std::strlen(cstr));
  KX_STRING *s = kx::stringCreateWithCapacity(length);  // never more code points than octets
  kx::stringAppendUtf8(s, reinterpret_cast<const kxByte *>(cstr), length);
  releaseSlack(s);
  return s;
}

KX_STRING *kxStringCreateFromWcstr(const wchar_t *wcstr, kxInt length) {
  KX_ASSERT(wcstr || length == 0);
  KX_ASSERT(length >= -1);
  if (length < 0) length = static_cast<kxInt>(std::wcslen(wcstr));
  KX_STRING *s = kx::stringCreateWithCapacity(length);
  for (kxInt i = 0; i < length; ++i) {
    auto c = static_cast<kxChar>(wcstr[i]);  // a negative wchar_t becomes a value above U+10FFFF
    s->chars[i] = kx::utf8::isEncodable(c) ? c : kx::utf8::kReplacement;
  }
  s->length = length;
  return s;
}

KX_STRING *kxStringCreateFromChars(const kxChar *chars, kxInt length) {
  KX_ASSERT(chars || length == 0);
  KX_ASSERT(length >= 0);
  KX_STRING *s = kx::stringCreateWithCapacity(length);
  kx::stringAppendRaw(s, chars, length);
  return s;
}

KX_STRING *kxStringCreateFromInner(KX_STRING *s, kxInt start, kxInt length) {
  KX_ASSERT(s);
  KX_ASSERT(start >= 0 && length >= 0 && start <= s->length - length);
  if (start == 0 && length == s->length) {
    return reinterpret_cast<KX_STRING *>(kxObjRetain(kx::asObj(s)));  // immutable while shared
  }
  KX_STRING *inner = kx::stringCreateWithCapacity(length);
  kx::stringAppendRaw(inner, s->chars + start, length);
  return inner;
}

kxInt kxStringLength(KX_STRING *s) {
  KX_ASSERT(s);
  return s->length;
}

const kxChar *kxStringBacking(KX_STRING *s) {
  KX_ASSERT(s);
  // Never null, so that callers may hand an empty string's backing to memcpy and friends.
  static const kxChar empty[1] = {0};
  return s->chars ? s->chars : empty;
}

kxChar kxStringCharAt(KX_STRING *s, kxInt index) {
  KX_ASSERT(s);
  KX_ASSERT(index >= 0 && index < s->length);
  return s->chars[index];
}

kxBool kxStringEquals(KX_STRING *a, KX_STRING *b) {
  KX_ASSERT(a);
  KX_ASSERT(b);
  return a->length == b->length &&
         (a->length == 0 ||
          std::memcmp(a->chars, b->chars, static_cast<size_t>(a->length) * sizeof(kxChar)) == 0);
}

void kxStringAppend(KX_STRING **s, KX_STRING *other) {
  KX_ASSERT(s);
  KX_ASSERT(*s);
  KX_ASSERT(other);
  // Held for the duration: appending a string to itself must not read a block the append reallocates.
  kx::Ref<KX_STRING> source = kx::Ref<KX_STRING>::retained(other);
  kx::stringPrepareAppend(s, other->length);
  kx::stringAppendRaw(*s, source->chars, source->length);
}

void kxStringAppendChar(KX_STRING **s, kxChar c) {
  KX_ASSERT(s);
  KX_ASSERT(*s);
  kx::stringPrepareAppend(s, 1);
  kx::stringAppendRaw(*s, &c, 1);
}

void kxStringAppendChars(KX_STRING **s, const kxChar *chars, kxInt length) {
  KX_ASSERT(s);
  KX_ASSERT(*s);
  KX_ASSERT(chars || length == 0);
  KX_ASSERT(length >= 0);
  kx::stringPrepareAppend(s, length);
  kx::stringAppendRaw(*s, chars, length);
}

void kxStringAppendCstr(KX_STRING **s, const char *cstr, kxInt length) {
  KX_ASSERT(s);
  KX_ASSERT(*s);
  KX_ASSERT(cstr || length == 0);
  KX_ASSERT(length >= -1);
  if (length < 0) length = static_cast<kxInt>(std::strlen(cstr));
  kx::stringPrepareAppend(s, length);
  kx::stringAppendUtf8(*s, reinterpret_cast<const kxByte *>(cstr), length);
}

// --- text ---

char *kxStringConvertToCstr(KX_STRING *s, kxInt *length) {
  KX_ASSERT(s);
  kxInt octets = 0;
  for (kxChar c : charsOf(s)) octets += kx::utf8::encodedLength(c);
  auto *text = static_cast<char *>(std::malloc(static_cast<size_t>(octets) + 1));
  KX_ASSERT(text != nullptr);
  char *out = text;
  for (kxChar c : charsOf(s)) {
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
    } else {
      out = kx::utf8::encode(c, out);
    }
  }
  *out = '\0';
  if (length) *length = octets;
  return text;
}

kxBool kxStringEqualsCstr(KX_STRING *s, const char *cstr, kxInt length) {
  KX_ASSERT(s);
  KX_ASSERT(cstr || length == 0);
  KX_ASSERT(length >= -1);
  return equalsUtf8(s, cstr, length, [](kxChar c) { return c; });
}

kxBool kxStringEqualsCaseFoldCstr(KX_STRING *s, const char *cstr, kxInt length) {
  KX_ASSERT(s);
  KX_ASSERT(cstr || length == 0);
  KX_ASSERT(length >= -1);
  return equalsUtf8(s, cstr, length, asciiLower);
}

kxBool kxStringEqualsChars(KX_STRING *s, const kxChar *chars, kxInt length) {
  KX_ASSERT(s);
  KX_ASSERT(chars || length == 0);
  KX_ASSERT(length >= 0);
  if (s->length != length) return 0;
  return length == 0 || std::memcmp(s->chars, chars, static_cast<size_t>(length) * sizeof(kxChar)) == 0;
}

kxInt kxStringFindChar(KX_STRING *s, kxChar c, kxInt start) {
  KX_ASSERT(s);
  KX_ASSERT(start >= 0 && start <= s->length);
  Chars chars = charsOf(s);
  auto found = std::find(chars.begin() + start, chars.end(), c);
  return found == chars.end() ? -1 : found - chars.begin();
}

KX_VECTOR *kxStringSplitChar(KX_STRING *s, kxChar c, kxInt max) {
  return kxStringSplitChars(s, &c, 1, max);
}

// Knuth-Morris-Pratt, so that a long separator against hostile text stays linear.
KX_VECTOR *kxStringSplitChars(KX_STRING *s, const kxChar *chars, kxInt n, kxInt max) {
  KX_ASSERT(s);
  KX_ASSERT(chars);
  KX_ASSERT(n >= 1);
  KX_ASSERT(max != 0);
  Chars text = charsOf(s);
  Chars separator(chars, static_cast<size_t>(n));
  std::vector<kxInt> failure = failureTable(separator);
  kx::Ref<KX_VECTOR> pieces(kxVectorCreate());
  kxInt pieceStart = 0;
  kxInt cuts = 0;
  kxInt matched = 0;
  for (kxInt i = 0; i < s->length && (max < 0 || cuts < max - 1); ++i) {
    while (matched > 0 && text[i] != separator[matched]) matched = failure[matched - 1];
    if (text[i] == separator[matched]) ++matched;
    if (matched == n) {
      appendPiece(pieces.addr(), s, pieceStart, i + 1 - n);
      pieceStart = i + 1;
      ++cuts;
      matched = 0;  // occurrences do not overlap
    }
  }
  appendPiece(pieces.addr(), s, pieceStart, s->length);
  return pieces.release();
}

KX_STRING *kxStringTrim(KX_STRING *s) {
  KX_ASSERT(s);
  Chars chars = charsOf(s);
  auto first = std::find_if_not(chars.begin(), chars.end(), isTrimmed);
  auto last = std::find_if_not(chars.rbegin(), std::make_reverse_iterator(first), isTrimmed).base();
  return kxStringCreateFromInner(s, first - chars.begin(), last - first);
}

KX_STRING *kxStringToLower(KX_STRING *s) {
  KX_ASSERT(s);
  Chars chars = charsOf(s);
  auto firstUpper = std::find_if(chars.begin(), chars.end(), [](kxChar c) { return c >= 'A' && c <= 'Z'; });
  if (firstUpper == chars.end()) return reinterpret_cast<KX_STRING *>(kxObjRetain(kx::asObj(s)));
  KX_STRING *lower = kxStringCreateFromChars(chars.data(), s->length);
  std::transform(lower->chars, lower->chars + lower->length, lower->chars, asciiLower);
  return lower;
}

}  // extern "C"

// --- storage ---

namespace {

// Short strings keep their code points in the object's own allocation, right after the header: one
// allocation instead of two for the keys, values and tokens that make up most of the strings. The block is
// zero-filled with the header, so the limit also bounds that cost.
constexpr kxInt kInlineCapacity = 256;

kxChar *inlineChars(KX_STRING *s) {
  return reinterpret_cast<kxChar *>(s + 1);
}

bool isInline(KX_STRING *s) {
  return s->chars == inlineChars(s);
}

// Grows the block of a private string to hold at least `needed` code points: doubling keeps a run of
// appends amortised O(1). Code points held in the object's own allocation move to a block of their own.
void reserve(KX_STRING *s, kxInt needed) {
  KX_ASSERT(needed <= kx::kStringMaxLength);
  if (needed <= s->capacity) return;
  kxInt capacity = std::max({needed, s->capacity * 2, kxInt{8}});
  capacity = std::min(capacity, kx::kStringMaxLength);
  const size_t size = static_cast<size_t>(capacity) * sizeof(kxChar);
  kxChar *chars;
  if (isInline(s)) {
    chars = static_cast<kxChar *>(std::malloc(size));
    KX_ASSERT(chars != nullptr);
    std::memcpy(chars, s->chars, static_cast<size_t>(s->length) * sizeof(kxChar));
  } else {
    chars = static_cast<kxChar *>(std::realloc(s->chars, size));
    KX_ASSERT(chars != nullptr);
  }
  s->chars = chars;
  s->capacity = capacity;
}

// Gives back the room that multi-octet UTF-8 left unused (a string of CJK text needs a third of it).
// Code points in the object's own allocation stay where they are.
void releaseSlack(KX_STRING *s) {
  if (s->length == 0 || s->capacity - s->length <= s->length || isInline(s)) return;
  auto *chars =
      static_cast<kxChar *>(std::realloc(s->chars, static_cast<size_t>(s->length) * sizeof(kxChar)));
  if (chars == nullptr) return;  // the larger block stays valid
  s->chars = chars;
  s->capacity = s->length;
}

// A private copy of s with room for extra more code points.
KX_STRING *copyString(KX_STRING *s, kxInt extra) {
  KX_ASSERT(extra <= kx::kStringMaxLength - s->length);
  KX_STRING *copy = kx::stringCreateWithCapacity(s->length + extra);
  kx::stringAppendRaw(copy, s->chars, s->length);
  return copy;
}

}  // namespace

namespace kx {

KX_STRING *stringCreateWithCapacity(kxInt capacity) {
  KX_ASSERT(capacity >= 0);
  if (capacity > 0 && capacity <= kInlineCapacity) {
    const auto size = static_cast<kxInt>(sizeof(KX_STRING)) + capacity * static_cast<kxInt>(sizeof(kxChar));
    auto *s = reinterpret_cast<KX_STRING *>(kx___ObjCreate(size, &kx___sort_KX_STRING));
    s->chars = inlineChars(s);
    s->capacity = capacity;
    return s;
  }
  auto *s = reinterpret_cast<KX_STRING *>(kx___ObjCreate(sizeof(KX_STRING), &kx___sort_KX_STRING));
  if (capacity > 0) reserve(s, capacity);
  return s;
}

void stringPrepareAppend(KX_STRING **s, kxInt extra) {
  KX_ASSERT(extra >= 0 && extra <= kStringMaxLength - (*s)->length);
  makePrivate(s, [extra](KX_STRING *shared) { return copyString(shared, extra); });
}

void stringReserve(KX_STRING *s, kxInt capacity) {
  reserve(s, capacity);
}

void stringAppendRaw(KX_STRING *s, const kxChar *chars, kxInt count) {
  if (count == 0) return;
  // The source may lie inside s's own block, which reserve may move: keep it as an offset meanwhile.
  std::less<const kxChar *> before;
  bool inside = s->chars && !before(chars, s->chars) && before(chars, s->chars + s->capacity);
  kxInt offset = inside ? chars - s->chars : 0;
  reserve(s, s->length + count);
  if (inside) chars = s->chars + offset;
  std::memmove(s->chars + s->length, chars, static_cast<size_t>(count) * sizeof(kxChar));
  s->length += count;
}

void stringAppendUtf8(KX_STRING *s, const kxByte *octets, kxInt count) {
  reserve(s, s->length + count);  // never more code points than octets
  const kxByte *p = octets;
  const kxByte *end = octets + count;
  kxChar *out = s->chars + s->length;
  while (p < end) {
    if (*p < 0x80) {
      *out++ = *p++;
    } else {
      p = utf8::decode(p, end, out++);
    }
  }
  s->length = out - s->chars;
}

void stringAppendAscii(KX_STRING *s, const char *text, kxInt count) {
  reserve(s, s->length + count);
  for (kxInt i = 0; i < count; ++i) s->chars[s->length + i] = static_cast<kxByte>(text[i]);
  s->length += count;
}

}  // namespace kx

// --- sort functions ---

namespace {

void freeString(KX_OBJ *obj) {
  KX_STRING *s = asString(obj);
  if (!isInline(s)) std::free(s->chars);
  s->chars = nullptr;
}

// Code point by code point; a proper prefix orders first.
kxInt compareStrings(KX_OBJ *a, KX_OBJ *b) {
  KX_STRING *x = asString(a);
  KX_STRING *y = asString(b);
  kxInt common = std::min(x->length, y->length);
  for (kxInt i = 0; i < common; ++i) {
    if (x->chars[i] != y->chars[i]) return x->chars[i] < y->chars[i] ? -1 : 1;
  }
  return kx::sign(x->length - y->length);
}

KX_STRING *stringToString(KX_OBJ *obj) {
  return asString(kxObjRetain(obj));
}

}  // namespace

// --- text helpers ---

namespace {

kxInt cstrLength(const char *cstr, kxInt length) {
  return length < 0 ? static_cast<kxInt>(std::strlen(cstr)) : length;
}

// Decodes the UTF-8 text as kxStringCreateFromCstr would (ill-formed sequences as U+FFFD) and compares
// it with s after fold, without building a string.
template <typename Fold>
kxBool equalsUtf8(KX_STRING *s, const char *cstr, kxInt length, Fold fold) {
  length = cstrLength(cstr, length);
  if (length < s->length) return 0;  // each code point takes at least one octet
  const auto *p = reinterpret_cast<const kxByte *>(cstr);
  const kxByte *end = p + length;
  for (kxChar expected : charsOf(s)) {
    if (p == end) return 0;
    kxChar c;
    p = kx::utf8::decode(p, end, &c);
    if (fold(c) != fold(expected)) return 0;
  }
  return p == end;
}

void appendPiece(KX_VECTOR **pieces, KX_STRING *s, kxInt start, kxInt end) {
  kx::Ref<KX_STRING> piece(kxStringCreateFromInner(s, start, end - start));
  kxVectorAppendObj(pieces, kx::asObj(piece.get()));
}

// failure[i]: the length of the longest proper prefix of pattern[0..i] that is also its suffix.
std::vector<kxInt> failureTable(Chars pattern) {
  std::vector<kxInt> failure(pattern.size(), 0);
  kxInt k = 0;
  for (size_t i = 1; i < pattern.size(); ++i) {
    while (k > 0 && pattern[i] != pattern[static_cast<size_t>(k)]) k = failure[static_cast<size_t>(k) - 1];
    if (pattern[i] == pattern[static_cast<size_t>(k)]) ++k;
    failure[i] = k;
  }
  return failure;
}

}  // namespace
