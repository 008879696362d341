// RFC 2231 parameter values: the extended form with a charset prefix and percent escapes, and numbered
// sections of long values. Works on whole parameter dictionaries; an entry that cannot be converted is left
// out and never fails the others.
//
//   regular-parameter      := attribute [ "*" section ] "=" value          ; title, title*0, title*1
//   extended-parameter     := attribute [ "*" section ] "*" "=" ext-value  ; title*, title*0*, title*1*
//   ext-value of section 0 := [ charset ] "'" [ language ] "'" ext-text   ; sections 1.. : ext-text
//   ext-text               := *( attribute-char / "%" 2HEXDIG )
//   attribute-char         := any ASCII except SP, CTLs, tspecials, "*", "'", "%"
//   section                := "0" / ( "1"-"9" *DIGIT )                    ; no leading zeros
//
// Decoding follows the sections by formatted key lookups in a dictionary (O(log n) each) and collects text
// and octets in growable arrays, so joining n sections costs O(n log n) and never re-copies what it has
// collected.
#include "mime/mime_rfc2231.h"

#include <algorithm>
#include <span>
#include <vector>

#include "kx/kx_buffer.h"
#include "kx/kx_charset.h"
#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "mime/mime_char.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"

namespace {

using mime::Ref;
using Text = std::vector<kxChar>;
using Octets = std::vector<kxByte>;
using CharSpan = std::span<const kxChar>;

// The endings that mark a first section or an extended value, tested as the first three, two and one of them.
constexpr kxChar kEnds[3] = {'*', '0', '*'};

enum class KeyForm { kOrdinary, kSingleExtended, kFirstPlainSection, kFirstExtendedSection };

struct ClassifiedKey {
  KeyForm form;
  CharSpan attribute;
};

bool isAttributeChar(kxChar c);
bool isAttribute(CharSpan chars);
CharSpan charsOf(KX_STRING *s);
Ref<KX_STRING> stringOf(CharSpan chars);
Ref<KX_STRING> toString(KX_OBJ *obj);

bool needsExtendedForm(KX_STRING *value);
std::vector<Ref<KX_STRING>> plainSegments(KX_STRING *value, kxInt maxSegmentLength);
bool extendedSegments(KX_STRING *value, kxInt charset, kxInt maxSegmentLength,
                      std::vector<Ref<KX_STRING>> &segments);
void storeSegments(KX_DICT **result, KX_STRING *attribute, const std::vector<Ref<KX_STRING>> &segments,
                   bool extended);

Ref<KX_DICT> stringDict(KX_DICT *source);
ClassifiedKey classifyKey(KX_STRING *key);
kxInt decodeCharset(Ref<KX_STRING> &value);
bool percentDecode(CharSpan text, Octets &out);
Ref<KX_STRING> decodeSingleExtended(KX_STRING *value);
Ref<KX_STRING> joinPlainSections(KX_DICT *working, CharSpan attribute, KX_STRING *first);
Ref<KX_STRING> joinExtendedSections(KX_DICT *working, CharSpan attribute, KX_STRING *first);

}  // namespace

extern "C" {

KX_DICT *mime___Rfc2231Encode(KX_DICT *source, MIME_OPTIONS *mo) {
  MIME_ASSERT(source);
  MIME_ASSERT(mo);
  const kxInt charset = mimeOptionsRfc2231Charset(mo);
  const kxInt maxSegmentLength = mimeOptionsRfc2231MaxSegmentLength(mo);
  Ref<KX_DICT> result(kxDictCreate());
  const kxInt length = kxDictLength(source);
  for (kxInt i = 0; i < length; ++i) {
    Ref<KX_STRING> key(kxDictKeyAt(source, i));
    Ref<KX_OBJ> valueObj(kxDictValueAt(source, i));
    Ref<KX_STRING> value = toString(valueObj.get());
    if (!isAttribute(charsOf(key.get()))) continue;
    // A CR, LF or NUL travels escaped, like non-ASCII text: written raw a line break would end the header line
    // early and let the rest of the value pose as header fields of its own, and a NUL ends the header for
    // every reader that handles C strings.
    if (needsExtendedForm(value.get())) {
      std::vector<Ref<KX_STRING>> segments;
      if (!extendedSegments(value.get(), charset, maxSegmentLength, segments)) continue;
      storeSegments(result.addr(), key.get(), segments, true);
    } else {
      storeSegments(result.addr(), key.get(), plainSegments(value.get(), maxSegmentLength), false);
    }
  }
  return result.release();
}

KX_DICT *mime___Rfc2231Decode(KX_DICT *source, MIME_OPTIONS *mo) {
  MIME_ASSERT(source);
  MIME_ASSERT(mo);
  Ref<KX_DICT> working = stringDict(source);
  Ref<KX_DICT> result(kxDictCreate());
  const kxInt length = kxDictLength(working.get());
  for (kxInt i = 0; i < length; ++i) {
    Ref<KX_STRING> key(kxDictKeyAt(working.get(), i));
    Ref<KX_STRING> value(kxStringFrom(kxDictValueAt(working.get(), i)));
    const ClassifiedKey classified = classifyKey(key.get());
    // Later sections (title*1, title*2*) land here too, their attribute part holding "*": they are read only
    // through their first section.
    if (!isAttribute(classified.attribute)) continue;
    Ref<KX_STRING> decoded;
    switch (classified.form) {
      case KeyForm::kOrdinary:
        decoded.reset(mime::retainField(value.get()));
        break;
      case KeyForm::kSingleExtended:
        decoded = decodeSingleExtended(value.get());
        break;
      case KeyForm::kFirstPlainSection:
        decoded = joinPlainSections(working.get(), classified.attribute, value.get());
        break;
      case KeyForm::kFirstExtendedSection:
        decoded = joinExtendedSections(working.get(), classified.attribute, value.get());
        break;
    }
    if (!decoded) continue;
    // Several entries may store under one attribute (title, title*, title*0*): the last one visited wins.
    Ref<KX_STRING> attribute(classified.form == KeyForm::kOrdinary
                                 ? mime::retainField(key.get())
                                 : stringOf(classified.attribute).release());
    kxDictSetStringKey(result.addr(), attribute.get(), kxStringObj(decoded.get()));
  }
  return result.release();
}

}  // extern "C"

namespace {

// --- characters and strings ---

bool isAttributeChar(kxChar c) {
  using namespace mime::chars;
  return c < 128 && !isSpace(c) && !isCtl(c) && !isTspecial(c) && c != '*' && c != '\'' && c != '%';
}

bool isAttribute(CharSpan chars) {
  if (chars.empty()) return false;
  for (kxChar c : chars) {
    if (!isAttributeChar(c)) return false;
  }
  return true;
}

CharSpan charsOf(KX_STRING *s) {
  return {kxStringBacking(s), static_cast<size_t>(kxStringLength(s))};
}

Ref<KX_STRING> stringOf(CharSpan chars) {
  return Ref<KX_STRING>(kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size())));
}

Ref<KX_STRING> toString(KX_OBJ *obj) {
  return Ref<KX_STRING>(kxObjToString(obj));
}

// Appends chars to text unless the sum would pass the longest string the base runtime can describe.
bool appendText(Text &text, CharSpan chars) {
  if (!KX_INT_ADD_OK(static_cast<kxInt>(text.size()), static_cast<kxInt>(chars.size()))) return false;
  text.insert(text.end(), chars.begin(), chars.end());
  return true;
}

// --- encoding ---

bool needsExtendedForm(KX_STRING *value) {
  for (kxChar c : charsOf(value)) {
    if (c >= 128 || mime::chars::isCr(c) || mime::chars::isLf(c) || c == 0) return true;
  }
  return false;
}

// Pieces of at most maxSegmentLength code points (-1: one piece); an empty value gives one empty piece.
std::vector<Ref<KX_STRING>> plainSegments(KX_STRING *value, kxInt maxSegmentLength) {
  std::vector<Ref<KX_STRING>> segments;
  const kxInt length = kxStringLength(value);
  if (maxSegmentLength == -1 || length <= maxSegmentLength) {
    segments.emplace_back(mime::retainField(value));
    return segments;
  }
  for (kxInt start = 0; start < length; start += maxSegmentLength) {
    segments.emplace_back(kxStringCreateFromInner(value, start, kxIntMin(maxSegmentLength, length - start)));
  }
  return segments;
}

// The charset prefix (charset name, empty language), then every octet of the value in that charset: attribute
// characters as they are, all others as "%" and two upper-case hexadecimal digits. A segment is closed before
// a character that would take it past maxSegmentLength, so an escape is never cut; only a prefix longer than
// the limit, or a limit below 3, makes a longer segment. False when the charset cannot hold the value.
bool extendedSegments(KX_STRING *value, kxInt charset, kxInt maxSegmentLength,
                      std::vector<Ref<KX_STRING>> &segments) {
  Ref<KX_BUFFER> octets(kxCharsetConvertStringToBuffer(value, charset));
  if (!octets) return false;
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  const bool limited = maxSegmentLength != -1;
  Ref<KX_STRING> prefix(kxStringCreateFromFormatCstr("%~s''", kxCharsetToIanaName(charset)));
  Text segment(charsOf(prefix.get()).begin(), charsOf(prefix.get()).end());
  kxInt used = static_cast<kxInt>(segment.size());
  auto closeSegment = [&](kxInt usedAfter) {
    segments.push_back(stringOf(segment));
    segment.clear();
    used = usedAfter;
  };
  const kxByte *bytes = kxBufferBacking(octets.get());
  const kxInt count = kxBufferLength(octets.get());
  for (kxInt i = 0; i < count; ++i) {
    const kxByte octet = bytes[i];
    if (isAttributeChar(octet)) {
      if (limited && used >= maxSegmentLength)
        closeSegment(1);
      else
        used += 1;
      segment.push_back(octet);
    } else {
      if (limited && used >= maxSegmentLength - 2)
        closeSegment(3);
      else
        used += 3;
      segment.insert(segment.end(), {'%', static_cast<kxChar>(kHexDigits[octet >> 4]),
                                     static_cast<kxChar>(kHexDigits[octet & 15])});
    }
  }
  segments.push_back(stringOf(segment));
  return true;
}

// One segment goes under attribute + suffix, several under attribute "*" i suffix; the suffix is "*" for
// every section of an extended value, escapes or not.
void storeSegments(KX_DICT **result, KX_STRING *attribute, const std::vector<Ref<KX_STRING>> &segments,
                   bool extended) {
  const char *suffix = extended ? "*" : "";
  if (segments.size() == 1) {
    // A whole plain value keeps its key object: the usual case, and the one to make cheap.
    Ref<KX_STRING> key(extended ? kxStringCreateFromFormatCstr("%s%lc", attribute, suffix)
                                : mime::retainField(attribute));
    kxDictSetStringKey(result, key.get(), kxStringObj(segments.front().get()));
    return;
  }
  for (size_t i = 0; i < segments.size(); ++i) {
    Ref<KX_STRING> key(kxStringCreateFromFormatCstr("%s*%i%lc", attribute, static_cast<kxInt>(i), suffix));
    kxDictSetStringKey(result, key.get(), kxStringObj(segments[i].get()));
  }
}

// --- decoding: keys ---

// The dictionary with every key and value as a string. A dictionary of strings, the usual input, is shared
// rather than copied.
Ref<KX_DICT> stringDict(KX_DICT *source) {
  const kxInt length = kxDictLength(source);
  bool allStrings = true;
  for (kxInt i = 0; i < length && allStrings; ++i) {
    Ref<KX_OBJ> value(kxDictValueAt(source, i));
    allStrings = kxObjSort(value.get()) == kxStringSort();
  }
  if (allStrings) return Ref<KX_DICT>(mime::retainField(source));
  Ref<KX_DICT> working(kxDictCreate());
  for (kxInt i = 0; i < length; ++i) {
    Ref<KX_STRING> key(kxDictKeyAt(source, i));
    Ref<KX_OBJ> value(kxDictValueAt(source, i));
    kxDictSetStringKey(working.addr(), toString(kxStringObj(key.get())).get(),
                       kxStringObj(toString(value.get()).get()));
  }
  return working;
}

bool endsWith(CharSpan chars, size_t n) {
  return chars.size() >= n && std::equal(kEnds, kEnds + n, chars.end() - static_cast<std::ptrdiff_t>(n));
}

// The first ending that fits decides; no other ending is tried when the attribute part then fails the
// attribute test.
ClassifiedKey classifyKey(KX_STRING *key) {
  const CharSpan chars = charsOf(key);
  if (endsWith(chars, 3)) return {KeyForm::kFirstExtendedSection, chars.first(chars.size() - 3)};
  if (endsWith(chars, 2)) return {KeyForm::kFirstPlainSection, chars.first(chars.size() - 2)};
  if (endsWith(chars, 1)) return {KeyForm::kSingleExtended, chars.first(chars.size() - 1)};
  return {KeyForm::kOrdinary, chars};
}

// "attribute*N" or "attribute*N*", built in one reused array for the lookups of one attribute's sections.
class SectionKeys {
 public:
  explicit SectionKeys(CharSpan attribute)
      : chars_(attribute.begin(), attribute.end()), base_(chars_.size()) {}

  Ref<KX_STRING> key(kxInt section, bool extended) {
    chars_.resize(base_);
    chars_.push_back('*');
    char digits[24];
    int n = 0;
    for (kxInt rest = section; n == 0 || rest > 0; rest /= 10)
      digits[n++] = static_cast<char>('0' + rest % 10);
    while (n > 0) chars_.push_back(static_cast<kxChar>(digits[--n]));
    if (extended) chars_.push_back('*');
    return stringOf(chars_);
  }

 private:
  Text chars_;
  size_t base_;
};

Ref<KX_STRING> lookup(KX_DICT *working, const Ref<KX_STRING> &key) {
  return Ref<KX_STRING>(kxStringFrom(kxDictStringKey(working, key.get())));
}

// --- decoding: values ---

// Reads charset'language'text: on a known charset the value becomes the text and the charset is returned.
// Without two apostrophes the answer is -1; an unknown charset name gives what the charset lookup gave. In
// both cases the value stays as it was. The language is never looked at.
kxInt decodeCharset(Ref<KX_STRING> &value) {
  const kxInt first = kxStringFindChar(value.get(), '\'', 0);
  if (first < 0) return -1;
  const kxInt second = kxStringFindChar(value.get(), '\'', first + 1);
  if (second < 0) return -1;
  Ref<KX_STRING> name(kxStringCreateFromInner(value.get(), 0, first));
  const kxInt charset = kxCharsetFromIanaName(name.get());
  if (KX_CHARSET_OK(charset)) {
    value.reset(kxStringCreateFromInner(value.get(), second + 1, kxStringLength(value.get()) - second - 1));
  }
  return charset;
}

// Appends the octets of a percent-encoded text: "%" and two hexadecimal digits is one octet, every other code
// point (a "%" without two digits after it too) is the octet of its value. False when a code point lies above
// U+00FF or the octets would pass the buffer limit.
bool percentDecode(CharSpan text, Octets &out) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<kxInt>(out.size()) >= KX_BUFFER_MAX_LENGTH) return false;
    const kxChar c = text[i];
    if (c > 0xFF) return false;
    if (c == '%' && i + 2 < text.size()) {
      const kxInt high = kxUnicodeHexadecimalDigitValue(text[i + 1]);
      const kxInt low = kxUnicodeHexadecimalDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<kxByte>(high * 16 + low));
        i += 3;
        continue;
      }
    }
    out.push_back(static_cast<kxByte>(c));
    ++i;
  }
  return true;
}

// Converts the pending octets with the charset and appends the text; the octets are gone afterwards.
bool flushOctets(Octets &pending, kxInt charset, Text &text) {
  if (pending.empty()) return true;
  Ref<KX_BUFFER> buffer(kxBufferCreateFromBytes(pending.data(), static_cast<kxInt>(pending.size())));
  Ref<KX_STRING> converted(kxCharsetConvertBufferToString(buffer.get(), charset));
  pending.clear();
  return appendText(text, charsOf(converted.get()));
}

Ref<KX_STRING> decodeSingleExtended(KX_STRING *value) {
  Ref<KX_STRING> text(mime::retainField(value));
  const kxInt charset = decodeCharset(text);
  if (!KX_CHARSET_OK(charset)) return {};
  Octets octets;
  if (!percentDecode(charsOf(text.get()), octets)) return {};
  Text decoded;
  if (!flushOctets(octets, charset, decoded)) return {};
  return stringOf(decoded);
}

// title*0, title*1, ... up to the first missing number, joined as they stand. Extended sections are not
// looked at once section 0 is plain.
Ref<KX_STRING> joinPlainSections(KX_DICT *working, CharSpan attribute, KX_STRING *first) {
  SectionKeys keys(attribute);
  Text text(charsOf(first).begin(), charsOf(first).end());
  for (kxInt section = 1; section < KX_INT_MAX; ++section) {
    Ref<KX_STRING> next = lookup(working, keys.key(section, false));
    if (!next) break;
    if (!appendText(text, charsOf(next.get()))) return {};
  }
  return stringOf(text);
}

// title*0*, then per number the extended section if there is one, else the plain one, up to the first number
// that has neither. Octets of consecutive extended sections are joined before conversion, so a character may
// be split across sections; a plain section in between ends such a run.
Ref<KX_STRING> joinExtendedSections(KX_DICT *working, CharSpan attribute, KX_STRING *first) {
  Ref<KX_STRING> firstText(mime::retainField(first));
  const kxInt charset = decodeCharset(firstText);
  if (!KX_CHARSET_OK(charset)) return {};
  Octets pending;
  if (!percentDecode(charsOf(firstText.get()), pending)) return {};
  SectionKeys keys(attribute);
  Text text;
  for (kxInt section = 1; section < KX_INT_MAX; ++section) {
    Ref<KX_STRING> extended = lookup(working, keys.key(section, true));
    if (extended) {
      if (!percentDecode(charsOf(extended.get()), pending)) return {};
      continue;
    }
    if (!flushOctets(pending, charset, text)) return {};
    Ref<KX_STRING> plain = lookup(working, keys.key(section, false));
    if (!plain) break;
    if (!appendText(text, charsOf(plain.get()))) return {};
  }
  if (!flushOctets(pending, charset, text)) return {};
  return stringOf(text);
}

}  // namespace
