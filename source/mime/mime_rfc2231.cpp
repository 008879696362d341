// RFC 2231 parameter values: the extended form with a charset prefix and percent escapes, and numbered
// sections of long values. Works on whole parameter lists; an entry that cannot be converted is left out and
// never fails the others.
//
//   regular-parameter      := attribute [ "*" section ] "=" value          ; title, title*0, title*1
//   extended-parameter     := attribute [ "*" section ] "*" "=" ext-value  ; title*, title*0*, title*1*
//   ext-value of section 0 := [ charset ] "'" [ language ] "'" ext-text   ; sections 1.. : ext-text
//   ext-text               := *( attribute-char / "%" 2HEXDIG )
//   attribute-char         := any ASCII except SP, CTLs, tspecials, "*", "'", "%"
//   section                := "0" / ( "1"-"9" *DIGIT )                    ; no leading zeros
//
// The work is done on lists of parameters held as code points and sorted by key in code point order:
// the dictionary entry points convert to and from such lists, and the header codec hands over
// the list it parsed, so no string is made for a section that is only joined into another value. Decoding
// finds the sections of an attribute in one pass over the run of keys that begin with "attribute*" (found
// by binary search) and collects text and octets in growable arrays, so joining n sections costs O(log n + n)
// and never re-copies what it has collected.
#include "mime/mime_rfc2231.h"

#include <algorithm>
#include <array>
#include <compare>
#include <functional>
#include <iterator>
#include <span>
#include <vector>

#include "kx/kx_buffer.h"
#include "kx/kx_charset.h"
#include "kx/kx_dict.h"
#include "kx/kx_libraries.hpp"
#include "kx/kx_string.h"
#include "mime/mime_char.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_rfc2231.hpp"
#include "mime/mime_scratch.hpp"
#include "mime/mime_shf_token.hpp"

namespace {

using kx::Ref;
using mime::CodePoints;
using mime::compareKeys;
using mime::Parameter;
using mime::Parameters;
using Text = std::vector<kxChar>;
using Octets = std::vector<kxByte>;
using ScratchText = mime::ScratchVector<kxChar>;
using ScratchOctets = mime::ScratchVector<kxByte>;

// The endings that mark a first section or an extended value, tested as the first three, two and one of them.
constexpr kxChar kEnds[3] = {'*', '0', '*'};

enum class KeyForm { kOrdinary, kSingleExtended, kFirstPlainSection, kFirstExtendedSection };

struct ClassifiedKey {
  KeyForm form;
  CodePoints attribute;
};

constexpr bool isAttributeChar(kxChar c);
bool isAttribute(CodePoints chars);
CodePoints charsOf(KX_STRING *s);
Ref<KX_STRING> stringOf(CodePoints chars);

bool needsExtendedForm(CodePoints value);
bool keptWhole(CodePoints key, CodePoints wholeKey);
void appendPlainSections(const Parameter &entry, kxInt maxSegmentLength, Parameters &result);
bool appendExtendedSections(const Parameter &entry, kxInt charset, kxInt maxSegmentLength,
                            Ref<KX_STRING> &ianaName, Parameters &result);

ClassifiedKey classifyKey(CodePoints key);
Ref<KX_STRING> decodeSingleExtended(CodePoints value, std::pmr::memory_resource *scratch);
Ref<KX_STRING> joinPlainSections(std::span<const Parameter> source, CodePoints attribute, CodePoints first,
                                 std::pmr::memory_resource *scratch);
Ref<KX_STRING> joinExtendedSections(std::span<const Parameter> source, CodePoints attribute, CodePoints first,
                                    std::pmr::memory_resource *scratch);

}  // namespace

extern "C" {

KX_DICT *mime___Rfc2231Encode(KX_DICT *source, MIME_OPTIONS *mo) {
  MIME_ASSERT(source);
  MIME_ASSERT(mo);
  const kxInt charset = mimeOptionsRfc2231Charset(mo);
  const kxInt maxSegmentLength = mimeOptionsRfc2231MaxSegmentLength(mo);
  std::vector<Ref<KX_STRING>> strings;
  const Parameters parameters = mime::parametersOfDict(source, strings);
  return mime::dictOfParameters(mime::rfc2231EncodeParameters(parameters, charset, maxSegmentLength));
}

KX_DICT *mime___Rfc2231Decode(KX_DICT *source, MIME_OPTIONS *mo) {
  MIME_ASSERT(source);
  MIME_ASSERT(mo);
  std::vector<Ref<KX_STRING>> strings;
  const Parameters parameters = mime::parametersOfDict(source, strings);
  return mime::dictOfParameters(mime::rfc2231DecodeParameters(parameters));
}

}  // extern "C"

namespace mime {

// --- parameter lists ---

Parameter::Parameter(KX_STRING *borrowedKey, KX_STRING *borrowedValue)
    : key(charsOf(borrowedKey)),
      value(charsOf(borrowedValue)),
      keyString(borrowedKey),
      valueString(borrowedValue) {}

Parameter::Parameter(CodePointBuffer &&text, size_t keyLength) : ownedText(std::move(text)) {
  const CodePoints all(ownedText);
  key = all.first(keyLength);
  value = all.subspan(keyLength);
}

void Parameter::adoptValue(KX_STRING *adopted) {
  ownedValue.reset(adopted);
  valueString = adopted;
  value = charsOf(adopted);
}

// The entries of a dictionary as a parameter list sorted by key, each value that is not a string turned into
// one with kxObjToString (keys are strings); strings keeps those alive, the others are borrowed from the
// dictionary. A dictionary holds every key once, as the list must.
Parameters parametersOfDict(KX_DICT *source, std::vector<Ref<KX_STRING>> &strings) {
  const kxInt length = kxDictLength(source);
  Parameters parameters;
  parameters.reserve(static_cast<size_t>(length));
  for (kxInt i = 0; i < length; ++i) {
    const KX_DICT_ENTRY entry = kx___DictEntryAt(source, i);
    KX_OBJ *value = entry.value;
    KX_STRING *valueString = kxObjSort(value) == kxStringSort()
                                 ? kxStringFrom(value)
                                 : strings.emplace_back(kxObjToString(value)).get();
    parameters.emplace_back(entry.key, valueString);
  }
  sortKeepingLast(parameters);  // one pass when the dictionary's order is already this one
  return parameters;
}

void sortKeepingLast(Parameters &parameters) {
  const auto ascending = [](const Parameter &a, const Parameter &b) { return compareKeys(a.key, b.key) < 0; };
  if (std::adjacent_find(parameters.begin(), parameters.end(), std::not_fn(ascending)) == parameters.end())
    return;  // already in order, every key once: the usual case
  std::sort(parameters.begin(), parameters.end(), [](const Parameter &a, const Parameter &b) {
    const std::strong_ordering byKey = compareKeys(a.key, b.key);
    return byKey != 0 ? byKey < 0 : a.order < b.order;
  });
  // Of a run of equal keys the last value stays, under the key string of the first: a dictionary keeps the
  // key it already holds when a store replaces the value.
  size_t kept = 0;
  for (size_t first = 0, i = 0; i < parameters.size(); ++i) {
    if (i + 1 < parameters.size() && compareKeys(parameters[i].key, parameters[i + 1].key) == 0) continue;
    KX_STRING *firstKeyString = parameters[first].keyString;
    if (kept != i) parameters[kept] = std::move(parameters[i]);
    parameters[kept].keyString = firstKeyString;
    ++kept;
    first = i + 1;
  }
  parameters.erase(parameters.begin() + static_cast<std::ptrdiff_t>(kept), parameters.end());
}

KX_DICT *dictOfParameters(std::span<const Parameter> parameters, std::pmr::memory_resource *scratch) {
  ScratchVector<KX_DICT_ENTRY> entries(scratch);  // new references, which the dictionary takes over
  entries.reserve(parameters.size());
  for (const Parameter &parameter : parameters) {
    KX_STRING *key =
        parameter.keyString ? retainField(parameter.keyString) : stringOf(parameter.key).release();
    KX_STRING *value =
        parameter.valueString ? retainField(parameter.valueString) : stringOf(parameter.value).release();
    entries.push_back({key, kxStringObj(value)});
  }
  return kx___DictCreateFromEntries(entries.data(), static_cast<kxInt>(entries.size()));
}

// --- the two directions ---

Parameters rfc2231EncodeParameters(std::span<const Parameter> source, kxInt charset, kxInt maxSegmentLength,
                                   CodePoints wholeKey) {
  Parameters result;
  result.reserve(source.size());
  Ref<KX_STRING> ianaName;  // the charset's name, looked up for the first extended value
  for (const Parameter &entry : source) {
    if (!isAttribute(entry.key)) continue;
    // A CR, LF or NUL travels escaped, like non-ASCII text: written raw a line break would end the header
    // line early and let the rest of the value pose as header fields of its own, and a NUL ends the header
    // for every reader that handles C strings.
    if (needsExtendedForm(entry.value)) {
      appendExtendedSections(entry, charset, maxSegmentLength, ianaName, result);
    } else {
      appendPlainSections(entry, keptWhole(entry.key, wholeKey) ? -1 : maxSegmentLength, result);
    }
  }
  for (size_t i = 0; i < result.size(); ++i) result[i].order = i;
  sortKeepingLast(result);
  return result;
}

Parameters rfc2231DecodeParameters(std::span<const Parameter> source, std::pmr::memory_resource *scratch) {
  Parameters result(scratch);
  result.reserve(source.size());
  for (const Parameter &entry : source) {
    const ClassifiedKey classified = classifyKey(entry.key);
    // Later sections (title*1, title*2*) land here too, their attribute part holding "*": they are read only
    // through their first section.
    if (!isAttribute(classified.attribute)) continue;
    // Several entries may store under one attribute (title, title*, title*0*): the last one visited wins.
    const size_t order = result.size();
    if (classified.form == KeyForm::kOrdinary) {
      Parameter &kept = result.emplace_back(entry.key, entry.value, order);
      kept.keyString = entry.keyString;
      kept.valueString = entry.valueString;
      continue;
    }
    Ref<KX_STRING> value;
    if (classified.form == KeyForm::kSingleExtended) {
      value = decodeSingleExtended(entry.value, scratch);
    } else if (classified.form == KeyForm::kFirstPlainSection) {
      value = joinPlainSections(source, classified.attribute, entry.value, scratch);
    } else {
      value = joinExtendedSections(source, classified.attribute, entry.value, scratch);
    }
    if (value) result.emplace_back(classified.attribute, CodePoints(), order).adoptValue(value.release());
  }
  sortKeepingLast(result);
  return result;
}

}  // namespace mime

namespace {

// --- characters and strings ---

// attribute-char: an RFC 2045 token character of ASCII other than "*", "'" and "%", looked up in a table
// of the ASCII range.
constexpr std::array<bool, 128> kAttributeChars = [] {
  std::array<bool, 128> table{};
  for (kxChar c = 0; c < 128; ++c)
    table[c] = mime::chars::isTokenChar(c) && c != '*' && c != '\'' && c != '%';
  return table;
}();
constexpr bool isAttributeChar(kxChar c) {
  return c < 128 && kAttributeChars[c];
}

// The same set as spelt out: ASCII, not SP, not a control character, not a tspecial, not "*", "'", "%".
constexpr bool attributeCharsAreTheRfcSet() {
  using namespace mime::chars;
  for (kxChar c = 0; c < 0x200; ++c) {
    const bool rule =
        c < 128 && !isSpace(c) && !isCtl(c) && !isTspecial(c) && c != '*' && c != '\'' && c != '%';
    if (isAttributeChar(c) != rule) return false;
  }
  return true;
}
static_assert(attributeCharsAreTheRfcSet());

// Without an early way out: attributes are short, and a loop without branches runs faster on them.
bool isAttribute(CodePoints chars) {
  bool every = !chars.empty();
  for (kxChar c : chars) every &= isAttributeChar(c);
  return every;
}

CodePoints charsOf(KX_STRING *s) {
  return {kxStringBacking(s), static_cast<size_t>(kxStringLength(s))};
}

Ref<KX_STRING> stringOf(CodePoints chars) {
  return Ref<KX_STRING>(mime::sharedString(chars));
}

// Appends chars to text unless the sum would pass the longest string the base runtime can describe.
bool appendText(ScratchText &text, CodePoints chars) {
  if (!KX_INT_ADD_OK(static_cast<kxInt>(text.size()), static_cast<kxInt>(chars.size()))) return false;
  text.insert(text.end(), chars.begin(), chars.end());
  return true;
}

template <typename Chars>
void appendDecimal(Chars &text, kxInt number) {
  char digits[24];
  int n = 0;
  for (kxInt rest = number; n == 0 || rest > 0; rest /= 10) digits[n++] = static_cast<char>('0' + rest % 10);
  while (n > 0) text.push_back(static_cast<kxChar>(digits[--n]));
}

// attribute "*" section [ "*" ], or attribute [ "*" ] when section is -1, with room for extra more code
// points.
Text sectionKey(CodePoints attribute, kxInt section, bool extended, size_t extra = 0) {
  Text key;
  key.reserve(attribute.size() + 22 + extra);  // "*", at most 19 digits, "*"
  key.assign(attribute.begin(), attribute.end());
  if (section >= 0) {
    key.push_back('*');
    appendDecimal(key, section);
  }
  if (extended) key.push_back('*');
  return key;
}

// --- encoding ---

// A multipart boundary is looked up by its plain key: a reader that finds only boundary*0 finds no parts.
bool keptWhole(CodePoints key, CodePoints wholeKey) {
  return !wholeKey.empty() && compareKeys(key, wholeKey) == 0;
}

bool needsExtendedForm(CodePoints value) {
  return std::any_of(value.begin(), value.end(), [](kxChar c) {
    return c >= 128 || mime::chars::isCr(c) || mime::chars::isLf(c) || c == 0;
  });
}

// Sections of at most maxSegmentLength code points (-1: one section), each borrowing its piece of the value;
// an empty value gives one empty section. A whole value keeps its key and value strings: the usual case, and
// the one to make cheap.
void appendPlainSections(const Parameter &entry, kxInt maxSegmentLength, Parameters &result) {
  const kxInt length = static_cast<kxInt>(entry.value.size());
  if (maxSegmentLength == -1 || length <= maxSegmentLength) {
    Parameter &whole = result.emplace_back(entry.key, entry.value, 0);
    whole.keyString = entry.keyString;
    whole.valueString = entry.valueString;
    return;
  }
  kxInt section = 0;
  for (kxInt start = 0; start < length; start += maxSegmentLength, ++section) {
    Text key = sectionKey(entry.key, section, false);
    const size_t keyLength = key.size();
    result.emplace_back(std::move(key), keyLength).value = entry.value.subspan(
        static_cast<size_t>(start), static_cast<size_t>(kxIntMin(maxSegmentLength, length - start)));
  }
}

// The value's octets in the charset; false when the charset cannot hold it. UTF-8, the default, is written
// here with the base runtime's own encoder; every other charset goes through its conversion.
bool convertToCharset(const Parameter &entry, kxInt charset, Octets &octets) {
  if (charset == KX_CHARSET_UTF_8) {
    if (!std::all_of(entry.value.begin(), entry.value.end(), kx::utf8::isEncodable)) return false;
    octets.reserve(2 * entry.value.size());
    char encoded[4];
    for (kxChar c : entry.value) {
      const char *end = kx::utf8::encode(c, encoded);
      for (const char *octet = encoded; octet != end; ++octet) octets.push_back(static_cast<kxByte>(*octet));
    }
    return true;
  }
  Ref<KX_STRING> made;
  KX_STRING *value = entry.valueString;
  if (!value) {
    made = stringOf(entry.value);
    value = made.get();
  }
  Ref<KX_BUFFER> buffer(kxCharsetConvertStringToBuffer(value, charset));
  if (!buffer) return false;
  const kxByte *bytes = kxBufferBacking(buffer.get());
  octets.assign(bytes, bytes + kxBufferLength(buffer.get()));
  return true;
}

// Whether each octet of the value in the charset starts a character, so that a section never ends inside
// one: readers that convert section by section would garble it. UTF-8 shows it in every octet; a charset
// of as many octets as characters has one octet each; other charsets are asked character by character, and
// when those octets do not add up to the value's (a byte-order mark, or a charset with shift states) every
// octet counts as a start, as the octets cannot be cut any better.
std::vector<bool> characterStarts(const Parameter &entry, kxInt charset, const Octets &octets) {
  if (charset == KX_CHARSET_UTF_8) {
    std::vector<bool> starts(octets.size());
    for (size_t i = 0; i < octets.size(); ++i) starts[i] = (octets[i] & 0xC0) != 0x80;
    return starts;
  }
  std::vector<bool> starts(octets.size(), true);
  if (octets.size() == entry.value.size()) return starts;
  std::vector<bool> alone(octets.size(), false);
  size_t offset = 0;
  for (const kxChar c : entry.value) {
    Ref<KX_BUFFER> buffer(kxCharsetConvertStringToBuffer(stringOf(CodePoints(&c, 1)).get(), charset));
    if (!buffer || offset >= octets.size()) return starts;
    alone[offset] = true;
    offset += static_cast<size_t>(kxBufferLength(buffer.get()));
  }
  return offset == octets.size() ? alone : starts;
}

// An octet of an extended value: an attribute character as it is, any other as "%" and two upper-case
// hexadecimal digits.
void appendEscaped(Text &text, kxByte octet) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  if (isAttributeChar(octet)) {
    text.push_back(octet);
    return;
  }
  text.push_back('%');
  text.push_back(static_cast<kxChar>(kHexDigits[octet >> 4]));
  text.push_back(static_cast<kxChar>(kHexDigits[octet & 15]));
}

// The charset prefix (charset name, empty language), then every octet of the value in that charset, escaped.
// A segment is closed before a character whose escaped octets would take it past maxSegmentLength, so
// neither an escape nor a character is ever cut. The first segment holds the prefix and at least one
// character, as readers take a first section of the prefix alone for a malformed parameter; so only a limit
// below the prefix and one character, or a character wider than the limit, makes a longer segment. One
// segment goes under attribute "*", several under attribute "*" i "*". False (nothing appended) when the
// charset cannot hold the value.
bool appendExtendedSections(const Parameter &entry, kxInt charset, kxInt maxSegmentLength,
                            Ref<KX_STRING> &ianaName, Parameters &result) {
  Octets octets;
  if (!convertToCharset(entry, charset, octets)) return false;
  if (!ianaName) ianaName.reset(kxCharsetToIanaName(charset));
  const CodePoints name = charsOf(ianaName.get());
  constexpr kxChar kNoLanguage[2] = {'\'', '\''};
  kxInt length = static_cast<kxInt>(name.size() + 2);
  for (const kxByte octet : octets) length += isAttributeChar(octet) ? 1 : 3;
  if (maxSegmentLength == -1 || length <= maxSegmentLength) {
    // Within the limit the rule below never closes a segment (it closes one only before a character that
    // would take it past the limit): one section.
    Text text = sectionKey(entry.key, -1, true, static_cast<size_t>(length));
    const size_t keyLength = text.size();
    text.insert(text.end(), name.begin(), name.end());
    text.insert(text.end(), std::begin(kNoLanguage), std::end(kNoLanguage));
    for (const kxByte octet : octets) appendEscaped(text, octet);
    result.emplace_back(std::move(text), keyLength);
    return true;
  }
  std::vector<Text> segments;
  Text segment(name.begin(), name.end());
  segment.insert(segment.end(), std::begin(kNoLanguage), std::end(kNoLanguage));
  kxInt used = static_cast<kxInt>(segment.size());
  const std::vector<bool> starts = characterStarts(entry, charset, octets);
  for (size_t start = 0, end = 0; start < octets.size(); start = end) {
    kxInt width = 0;
    for (end = start; end < octets.size() && (end == start || !starts[end]); ++end)
      width += isAttributeChar(octets[end]) ? 1 : 3;
    if (start > 0 && used > maxSegmentLength - width) {
      segments.push_back(std::move(segment));
      segment = Text();
      used = 0;
    }
    used += width;
    for (size_t i = start; i < end; ++i) appendEscaped(segment, octets[i]);
  }
  segments.push_back(std::move(segment));
  for (size_t i = 0; i < segments.size(); ++i) {
    const kxInt section = segments.size() == 1 ? -1 : static_cast<kxInt>(i);
    Text text = sectionKey(entry.key, section, true, segments[i].size());
    const size_t keyLength = text.size();
    text.insert(text.end(), segments[i].begin(), segments[i].end());
    result.emplace_back(std::move(text), keyLength);
  }
  return true;
}

// --- decoding: keys ---

bool endsWith(CodePoints chars, size_t n) {
  return chars.size() >= n && std::equal(kEnds, kEnds + n, chars.end() - static_cast<std::ptrdiff_t>(n));
}

// The first ending that fits decides; no other ending is tried when the attribute part then fails the
// attribute test.
ClassifiedKey classifyKey(CodePoints key) {
  if (endsWith(key, 3)) return {KeyForm::kFirstExtendedSection, key.first(key.size() - 3)};
  if (endsWith(key, 2)) return {KeyForm::kFirstPlainSection, key.first(key.size() - 2)};
  if (endsWith(key, 1)) return {KeyForm::kSingleExtended, key.first(key.size() - 1)};
  return {KeyForm::kOrdinary, key};
}

// The sections after the first of one attribute: "attribute*N" (plain) and "attribute*N*" (extended) for N
// from 1. Every key that starts with "attribute*" lies in one run of the sorted list (an attribute holds no
// "*", so no other attribute's keys come between); that run is read once, and a number past its length is
// never reached by an unbroken run of sections, so such keys are passed over.
class Sections {
 public:
  Sections(std::span<const Parameter> sorted, CodePoints attribute, std::pmr::memory_resource *scratch)
      : byNumber_(scratch) {
    const size_t prefix = attribute.size() + 1;  // "attribute*"
    const auto first = std::partition_point(sorted.begin(), sorted.end(), [attribute](const Parameter &p) {
      return beforePrefix(p.key, attribute);
    });
    auto last = first;
    while (last != sorted.end() && last->key.size() >= prefix && last->key[attribute.size()] == '*' &&
           std::equal(attribute.begin(), attribute.end(), last->key.begin()))
      ++last;
    const auto count = static_cast<size_t>(last - first);
    byNumber_.assign(count + 1, Pair{});
    for (auto p = first; p != last; ++p) {
      CodePoints suffix = p->key.subspan(prefix);
      const bool extended = !suffix.empty() && suffix.back() == '*';
      if (extended) suffix = suffix.first(suffix.size() - 1);
      size_t number = 0;
      if (sectionNumber(suffix, count, &number))
        (extended ? byNumber_[number].extended : byNumber_[number].plain) = &*p;
    }
  }

  // The section of that number, or null.
  const Parameter *plain(size_t number) const {
    return number < byNumber_.size() ? byNumber_[number].plain : nullptr;
  }
  const Parameter *extended(size_t number) const {
    return number < byNumber_.size() ? byNumber_[number].extended : nullptr;
  }

 private:
  struct Pair {
    const Parameter *plain = nullptr;
    const Parameter *extended = nullptr;
  };

  // True when key sorts before "attribute*" in code point order (compareKeys), without making that key.
  static bool beforePrefix(CodePoints key, CodePoints attribute) {
    const size_t common = std::min(key.size(), attribute.size());
    const auto [k, a] =
        std::mismatch(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(common), attribute.begin());
    if (k != key.begin() + static_cast<std::ptrdiff_t>(common)) return *k < *a;
    if (key.size() <= attribute.size()) return true;  // a prefix of "attribute*", or shorter
    return key[attribute.size()] < '*';
  }

  // A number from 1 to most, in decimal without a leading zero: the way a section key writes it.
  static bool sectionNumber(CodePoints digits, size_t most, size_t *number) {
    if (digits.empty() || digits[0] == '0') return false;
    size_t value = 0;
    for (kxChar c : digits) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
      if (value > most) return false;
    }
    *number = value;
    return true;
  }

  mime::ScratchVector<Pair> byNumber_;
};

// --- decoding: values ---

// The charset of a name: UTF-8, by far the most common, is recognised here without making a string; every
// other name is looked up by the base runtime.
kxInt charsetOfName(CodePoints name) {
  static constexpr char kUtf8[] = "utf-8";
  const bool utf8 = name.size() == 5 && std::equal(name.begin(), name.end(), kUtf8, [](kxChar c, char lower) {
                      return (c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) == static_cast<kxChar>(lower);
                    });
  if (utf8) return KX_CHARSET_UTF_8;
  return kxCharsetFromIanaName(stringOf(name).get());
}

// Reads charset'language'text: on a known charset the value becomes the text and the charset is returned.
// Without two apostrophes the answer is -1; an unknown charset name gives what the charset lookup gave. In
// both cases the value stays as it was. The language is never looked at.
kxInt decodeCharset(CodePoints &value) {
  const auto first = std::find(value.begin(), value.end(), '\'');
  if (first == value.end()) return -1;
  const auto second = std::find(first + 1, value.end(), '\'');
  if (second == value.end()) return -1;
  const kxInt charset = charsetOfName(CodePoints(value.begin(), first));
  if (KX_CHARSET_OK(charset)) value = CodePoints(second + 1, value.end());
  return charset;
}

// The value of a hexadecimal digit of either case, else -1 (kxUnicodeHexadecimalDigitValue, inlined).
constexpr int hexadecimalDigitValue(kxChar c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  const kxChar lower = c | 0x20;
  return lower >= 'a' && lower <= 'f' ? static_cast<int>(lower - 'a' + 10) : -1;
}

// Appends the octets of a percent-encoded text: "%" and two hexadecimal digits is one octet, every other code
// point (a "%" without two digits after it too) is the octet of its value. False when a code point lies above
// U+00FF or the octets would pass the buffer limit.
bool percentDecode(CodePoints text, ScratchOctets &out) {
  const size_t before = out.size();
  out.resize(before + text.size());  // never more octets than code points; the rest is cut off below
  kxByte *octet = out.data() + before;
  for (size_t i = 0; i < text.size();) {
    const kxChar c = text[i];
    if (c > 0xFF) return false;
    if (c == '%' && i + 2 < text.size()) {
      const int high = hexadecimalDigitValue(text[i + 1]);
      const int low = hexadecimalDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        *octet++ = static_cast<kxByte>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    *octet++ = static_cast<kxByte>(c);
    ++i;
  }
  out.resize(static_cast<size_t>(octet - out.data()));
  return static_cast<kxInt>(out.size()) <= KX_BUFFER_MAX_LENGTH;
}

// Converts the pending octets with the charset and appends the text; the octets are gone afterwards. UTF-8
// is read here with the base runtime's own decoder, which its conversion uses too; every other charset goes
// through the conversion.
bool flushOctets(ScratchOctets &pending, kxInt charset, ScratchText &text) {
  if (pending.empty()) return true;
  const size_t before = text.size();
  if (charset == KX_CHARSET_UTF_8) {
    const kxByte *p = pending.data();
    const kxByte *end = p + pending.size();
    text.resize(before + pending.size());  // never more code points than octets; the rest is cut off below
    kxChar *c = text.data() + before;
    while (p < end) {
      if (*p < 0x80) {
        *c++ = *p++;  // ASCII, most of the text, without the decoder's call
      } else {
        p = kx::utf8::decode(p, end, c++);
      }
    }
    text.resize(static_cast<size_t>(c - text.data()));
    pending.clear();
    return KX_INT_ADD_OK(static_cast<kxInt>(before), static_cast<kxInt>(text.size() - before));
  }
  Ref<KX_BUFFER> buffer(kxBufferCreateFromBytes(pending.data(), static_cast<kxInt>(pending.size())));
  Ref<KX_STRING> converted(kxCharsetConvertBufferToString(buffer.get(), charset));
  pending.clear();
  return converted && appendText(text, charsOf(converted.get()));  // null: no converter for the charset
}

Ref<KX_STRING> decodeSingleExtended(CodePoints value, std::pmr::memory_resource *scratch) {
  CodePoints text = value;
  const kxInt charset = decodeCharset(text);
  if (!KX_CHARSET_OK(charset)) return {};
  ScratchOctets octets(scratch);
  octets.reserve(text.size());
  if (!percentDecode(text, octets)) return {};
  ScratchText decoded(scratch);
  decoded.reserve(octets.size());
  if (!flushOctets(octets, charset, decoded)) return {};
  return stringOf(decoded);
}

// title*0, title*1, ... up to the first missing number, joined as they stand. Extended sections are not
// looked at once section 0 is plain.
Ref<KX_STRING> joinPlainSections(std::span<const Parameter> source, CodePoints attribute, CodePoints first,
                                 std::pmr::memory_resource *scratch) {
  const Sections sections(source, attribute, scratch);
  ScratchText text(first.begin(), first.end(), scratch);
  for (size_t section = 1;; ++section) {
    const Parameter *next = sections.plain(section);
    if (!next) break;
    if (!appendText(text, next->value)) return {};
  }
  return stringOf(text);
}

// title*0*, then per number the extended section if there is one, else the plain one, up to the first number
// that has neither. Octets of consecutive extended sections are joined before conversion, so a character may
// be split across sections; a plain section in between ends such a run.
Ref<KX_STRING> joinExtendedSections(std::span<const Parameter> source, CodePoints attribute, CodePoints first,
                                    std::pmr::memory_resource *scratch) {
  CodePoints firstText = first;
  const kxInt charset = decodeCharset(firstText);
  if (!KX_CHARSET_OK(charset)) return {};
  ScratchOctets pending(scratch);
  pending.reserve(4 * firstText.size());
  if (!percentDecode(firstText, pending)) return {};
  const Sections sections(source, attribute, scratch);
  ScratchText text(scratch);
  text.reserve(4 * firstText.size());
  for (size_t section = 1;; ++section) {
    if (const Parameter *extended = sections.extended(section)) {
      if (!percentDecode(extended->value, pending)) return {};
      continue;
    }
    if (!flushOctets(pending, charset, text)) return {};
    const Parameter *plain = sections.plain(section);
    if (!plain) break;
    if (!appendText(text, plain->value)) return {};
  }
  if (!flushOctets(pending, charset, text)) return {};
  return stringOf(text);
}

}  // namespace
