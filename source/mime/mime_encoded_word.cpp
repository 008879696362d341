// RFC 2047 encoded words: the decoder for unstructured text and parameter values, and the encoder for
// unstructured text.
//
//   encoded-word := "=?" charset [ "*" language ] "?" encoding "?" encoded-text "?="
//   charset      := 1*<printable ASCII except "?" and "*">     ; a name kxCharsetFromIanaName knows
//   language     := *<printable ASCII except "?">               ; RFC 2231, dropped
//   encoding     := "B" / "b" / "Q" / "q"
//   encoded-text := *<printable ASCII except "?">
//   B            := Base64; the "=" padding may be missing
//   Q            := "_" is SP, "=" 2HEXDIG is an octet, every other character is itself
//
// Leniencies, as in common readers: SP and HTAB inside the encoded text are kept (some encoders write them
// raw), a word may touch the text around it, a Q escape that is not "=" and two hexadecimal digits stays
// literal (and marks the text malformed), and a word may be longer than 75 characters.
//
// Linear time: a candidate "=?" is read up to the first "?" of its encoded text, which must be the "?" of
// its "?=", and the charset name is read for at most kLongestCharsetField characters; the next candidate is
// looked for after a closed word or after the "=?", so no character is read more than a bounded number of
// times.
#include "mime/mime_encoded_word.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "kx/kx_buffer.h"
#include "kx/kx_charset.h"
#include "kx/kx_libraries.hpp"
#include "mime/mime_char.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_shf_token.hpp"

namespace {

using mime::CodePointBuffer;
using mime::CodePoints;
using kx::Ref;
using Octets = std::vector<kxByte>;

CodePoints charsOf(KX_STRING *s) {
  return {kxStringBacking(s), static_cast<size_t>(kxStringLength(s))};
}

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A charset name and its language are never this long; a longer field is no encoded word.
constexpr size_t kLongestCharsetField = 80;

// One encoded word of the text, read but not yet decoded.
struct Word {
  size_t end = 0;  // just after its "?="
  kxInt charset = -1;
  bool base64 = false;
  CodePoints encodedText;
};

enum class Candidate {
  kNotAWord,  // "=?" without the shape of a word: ordinary text
  kWord,      // a closed word with a known charset
  kMalformed  // "=?" charset "?" encoding "?" but nothing usable after it
};

Candidate readWord(CodePoints text, size_t at, Word &word);
bool decodeEncodedText(const Word &word, Octets &octets, bool &malformed);
bool isLinearWhiteSpace(CodePoints chars);

// The decoded text, built piece by piece: literal text goes out as it is, the octets of adjacent words of
// one charset wait until the run ends and are converted together.
class Decoder {
 public:
  explicit Decoder(size_t expected) : expected_(expected) {}

  void literal(CodePoints chars) {
    flush();
    if (out_.empty()) out_.reserve(expected_);  // not before the first word: text without one is not copied
    out_.insert(out_.end(), chars.begin(), chars.end());
  }
  // The octets of one word, joined with those of the word before it when both have the same charset.
  Octets &octetsFor(kxInt charset) {
    if (charset != charset_) flush();
    charset_ = charset;
    return octets_;
  }
  bool malformed() const { return malformed_; }
  void setMalformed() { malformed_ = true; }
  KX_STRING *finish() {
    flush();
    return kxStringCreateFromChars(out_.data(), static_cast<kxInt>(out_.size()));
  }

 private:
  void flush();
  void appendUtf8();
  void appendConverted();
  // U+FFFD for octets the charset does not allow, which makes the text malformed.
  kxChar replacement() {
    malformed_ = true;
    return kx::utf8::kReplacement;
  }

  size_t expected_;
  CodePointBuffer out_;
  Octets octets_;
  kxInt charset_ = -1;
  bool malformed_ = false;
};

// --- encoding ---

// How the encoder writes: the folding line and the encoded words.
class Encoder {
 public:
  Encoder(MIME_OPTIONS *mo, kxInt firstLineOffset)
      : wrap_(mimeOptionsWrapLineLength(mo)), line_(static_cast<size_t>(firstLineOffset)) {}

  void plainWord(CodePoints separator, CodePoints word, CodePoints trailingBlanks);
  void encodedRun(CodePoints separator, CodePoints run);
  void blanksOnly(CodePoints blanks) { append(blanks); }
  KX_STRING *finish() const { return kxStringCreateFromChars(out_.data(), static_cast<kxInt>(out_.size())); }

 private:
  bool fits(size_t length) const { return wrap_ < 0 || line_ + length <= static_cast<size_t>(wrap_); }
  void fold() {
    out_.push_back(0x0D);
    out_.push_back(0x0A);
    line_ = 0;
    tokenOnLine_ = false;
  }
  void append(CodePoints chars) {
    out_.insert(out_.end(), chars.begin(), chars.end());
    line_ += chars.size();
  }
  size_t fitting(const Octets &octets, const std::vector<size_t> &ends, size_t first, size_t room) const;
  void writeWord(const Octets &octets, size_t from, size_t to);

  kxInt wrap_;
  size_t line_;
  bool tokenOnLine_ = false;
  bool base64_ = false;
  CodePointBuffer out_;
};

bool needsEncoding(CodePoints word);

bool isBlank(kxChar c) {
  return c == ' ' || c == '\t';
}
size_t skipBlanks(CodePoints text, size_t from) {
  return static_cast<size_t>(
      std::find_if_not(text.begin() + static_cast<ptrdiff_t>(from), text.end(), isBlank) - text.begin());
}
size_t endOfWord(CodePoints text, size_t from) {
  return static_cast<size_t>(std::find_if(text.begin() + static_cast<ptrdiff_t>(from), text.end(), isBlank) -
                             text.begin());
}

}  // namespace

extern "C" {

KX_STRING *mimeEncodedWordDecode(KX_STRING *text, kxBool *malformed) {
  MIME_ASSERT(text);
  const CodePoints chars = charsOf(text);
  Decoder decoder(chars.size());
  size_t literalFrom = 0;  // the text not yet handed to the decoder starts here
  bool afterWord = false;  // the text from literalFrom on follows an encoded word
  bool anyWord = false;
  Octets octets;
  for (size_t at = 0; at + 1 < chars.size();) {
    if (chars[at] != '=' || chars[at + 1] != '?') {
      ++at;
      continue;
    }
    Word word;
    const Candidate candidate = readWord(chars, at, word);
    if (candidate == Candidate::kNotAWord) {
      at += 2;  // past "=?": whatever follows may begin the next word
      continue;
    }
    octets.clear();
    bool badEscape = false;
    if (candidate == Candidate::kMalformed || !decodeEncodedText(word, octets, badEscape)) {
      decoder.setMalformed();
      at = candidate == Candidate::kMalformed ? at + 2 : word.end;  // a closed word is skipped whole
      continue;
    }
    if (badEscape) decoder.setMalformed();
    const CodePoints between = chars.subspan(literalFrom, at - literalFrom);
    if (!(afterWord && isLinearWhiteSpace(between))) decoder.literal(between);
    Octets &joined = decoder.octetsFor(word.charset);
    joined.insert(joined.end(), octets.begin(), octets.end());
    literalFrom = at = word.end;
    afterWord = anyWord = true;
  }
  if (!anyWord) {
    if (malformed) *malformed = decoder.malformed();
    return kxStringFrom(kxObjRetain(kxStringObj(text)));
  }
  decoder.literal(chars.subspan(literalFrom));  // converts the last run of words, which may be malformed
  if (malformed) *malformed = decoder.malformed();
  return decoder.finish();
}

KX_STRING *mimeEncodedWordEncode(KX_STRING *text, MIME_OPTIONS *mo, kxInt firstLineOffset) {
  MIME_ASSERT(text);
  MIME_ASSERT(mo);
  MIME_ASSERT(firstLineOffset >= 0);
  const CodePoints chars = charsOf(text);
  Encoder encoder(mo, firstLineOffset);
  // text := *( blanks word ) blanks. A run is a row of words that need encoding, with the blanks between
  // them; blanks at the very end go with the last word or run, so that they are encoded with it or fit on
  // its line (a line of blanks alone would not be a fold).
  size_t at = 0;
  while (at < chars.size()) {
    const size_t wordStart = skipBlanks(chars, at);
    if (wordStart == chars.size()) {
      encoder.blanksOnly(chars.subspan(at));
      break;
    }
    size_t wordEnd = endOfWord(chars, wordStart);
    const bool encode = needsEncoding(chars.subspan(wordStart, wordEnd - wordStart));
    while (encode && skipBlanks(chars, wordEnd) < chars.size()) {
      const size_t nextStart = skipBlanks(chars, wordEnd);
      const size_t nextEnd = endOfWord(chars, nextStart);
      if (!needsEncoding(chars.subspan(nextStart, nextEnd - nextStart))) break;
      wordEnd = nextEnd;
    }
    const size_t end = skipBlanks(chars, wordEnd) == chars.size() ? chars.size() : wordEnd;
    const CodePoints blanks = chars.subspan(at, wordStart - at);
    if (encode) {
      encoder.encodedRun(blanks, chars.subspan(wordStart, end - wordStart));
    } else {
      encoder.plainWord(blanks, chars.subspan(wordStart, wordEnd - wordStart),
                        chars.subspan(wordEnd, end - wordEnd));
    }
    at = end;
  }
  return encoder.finish();
}

}  // extern "C"

// --- reading a word ---

namespace {

bool isPrintableAscii(kxChar c) {
  return c > 0x20 && c < 0x7F;
}

bool isLinearWhiteSpace(CodePoints chars) {
  return std::all_of(chars.begin(), chars.end(), [](kxChar c) {
    return mime::chars::isLwsp(c) || mime::chars::isCr(c) || mime::chars::isLf(c);
  });
}

// The word whose "=?" is at `at`.
Candidate readWord(CodePoints text, size_t at, Word &word) {
  const size_t fieldStart = at + 2;
  const size_t fieldLimit = std::min(text.size(), fieldStart + kLongestCharsetField);
  size_t p = fieldStart;
  while (p < fieldLimit && text[p] != '?' && isPrintableAscii(text[p])) ++p;
  if (p == fieldStart || p >= fieldLimit || text[p] != '?') return Candidate::kNotAWord;
  const CodePoints field = text.subspan(fieldStart, p - fieldStart);
  const CodePoints charsetName =
      field.first(static_cast<size_t>(std::find(field.begin(), field.end(), '*') - field.begin()));
  if (p + 2 >= text.size() || text[p + 2] != '?') return Candidate::kNotAWord;
  const kxChar encoding = text[p + 1];
  if (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') return Candidate::kNotAWord;
  word.base64 = encoding == 'B' || encoding == 'b';
  const size_t textStart = p + 3;
  size_t q = textStart;
  while (q < text.size() && (isPrintableAscii(text[q]) || mime::chars::isLwsp(text[q])) && text[q] != '?')
    ++q;
  if (q + 1 >= text.size() || text[q] != '?' || text[q + 1] != '=') return Candidate::kMalformed;
  word.encodedText = text.subspan(textStart, q - textStart);
  word.end = q + 2;
  word.charset = kxCharsetFromIanaNameChars(charsetName.data(), static_cast<kxInt>(charsetName.size()));
  // A closed word in an unknown charset (charset -1) fails to decode; the caller then skips it whole.
  return Candidate::kWord;
}

// --- B and Q ---

// Base64 digit values, -1 for every other character; a table, not arithmetic on ranges, so the alphabet is
// written out once.
constexpr std::array<int8_t, 128> makeBase64Values() {
  std::array<int8_t, 128> values{};
  values.fill(-1);
  for (size_t i = 0; i < kBase64Alphabet.size(); ++i)
    values[static_cast<size_t>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
  return values;
}
constexpr std::array<int8_t, 128> kBase64Values = makeBase64Values();

// Base64 with or without its "=" padding; white space inside is skipped. False for any other character, a
// digit after the padding, or a last group of a single digit.
bool decodeBase64(CodePoints text, Octets &octets) {
  uint32_t bits = 0;
  int digits = 0;
  size_t padding = 0;
  for (kxChar c : text) {
    if (mime::chars::isLwsp(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = c < 128 ? kBase64Values[c] : -1;
    if (value < 0 || padding > 0) return false;
    bits = bits << 6 | static_cast<uint32_t>(value);
    if (++digits == 4) {
      octets.push_back(static_cast<kxByte>(bits >> 16));
      octets.push_back(static_cast<kxByte>(bits >> 8));
      octets.push_back(static_cast<kxByte>(bits));
      bits = 0;
      digits = 0;
    }
  }
  if (digits == 1 || padding > 2) return false;
  if (digits == 2) octets.push_back(static_cast<kxByte>(bits >> 4));
  if (digits == 3) {
    octets.push_back(static_cast<kxByte>(bits >> 10));
    octets.push_back(static_cast<kxByte>(bits >> 2));
  }
  return true;
}

// Q: never fails; a bad escape is kept as it stands and reported in badEscape.
void decodeQ(CodePoints text, Octets &octets, bool &badEscape) {
  for (size_t i = 0; i < text.size(); ++i) {
    const kxChar c = text[i];
    if (c == '_') {
      octets.push_back(0x20);
    } else if (c == '=' && i + 2 < text.size() && kxUnicodeHexadecimalDigitValue(text[i + 1]) >= 0 &&
               kxUnicodeHexadecimalDigitValue(text[i + 2]) >= 0) {
      octets.push_back(static_cast<kxByte>(kxUnicodeHexadecimalDigitValue(text[i + 1]) * 16 +
                                           kxUnicodeHexadecimalDigitValue(text[i + 2])));
      i += 2;
    } else {
      if (c == '=') badEscape = true;
      octets.push_back(static_cast<kxByte>(c));  // printable ASCII, SP or HTAB
    }
  }
}

bool decodeEncodedText(const Word &word, Octets &octets, bool &badEscape) {
  if (word.charset < 0) return false;
  if (word.base64) return decodeBase64(word.encodedText, octets);
  decodeQ(word.encodedText, octets, badEscape);
  return true;
}

}  // namespace

// --- converting the octets of a run of words ---

namespace {

// UTF-8, US-ASCII and ISO-8859-1 (the charsets of nearly every word) are read here, straight into the
// output; every other charset goes through the kx converter.
void Decoder::flush() {
  switch (charset_) {
    case -1:
      return;
    case KX_CHARSET_UTF_8:
      appendUtf8();
      break;
    case KX_CHARSET_ISO_8859_1:
      out_.insert(out_.end(), octets_.begin(), octets_.end());  // every octet is the code point of its value
      break;
    case KX_CHARSET_US_ASCII:
      for (kxByte octet : octets_) out_.push_back(octet < 0x80 ? octet : replacement());
      break;
    default:
      appendConverted();
  }
  octets_.clear();
  charset_ = -1;
}

void Decoder::appendUtf8() {
  const kxByte *p = octets_.data();
  const kxByte *const end = p + octets_.size();
  while (p < end) {
    kxChar c;
    const kxByte *after = kx::utf8::decode(p, end, &c);
    const bool encodedReplacement = after - p == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD;
    out_.push_back(c == kx::utf8::kReplacement && !encodedReplacement ? replacement() : c);
    p = after;
  }
}

void Decoder::appendConverted() {
  Ref<KX_BUFFER> buffer(kxBufferCreateFromBytes(octets_.data(), static_cast<kxInt>(octets_.size())));
  Ref<KX_STRING> decoded(
      kxCharsetTryConvertBufferToStringWithFlags(buffer.get(), charset_, KX_CHARSET_FLAG_STRICT));
  if (!decoded) {
    malformed_ = true;
    decoded.reset(kxCharsetConvertBufferToString(buffer.get(), charset_));
  }
  if (!decoded) {  // no converter opens for the charset: the run stands as one U+FFFD
    out_.push_back(replacement());
    return;
  }
  const CodePoints chars = charsOf(decoded.get());
  out_.insert(out_.end(), chars.begin(), chars.end());
}

}  // namespace

// --- encoding ---

namespace {

constexpr std::string_view kUtf8WordStart[2] = {"=?UTF-8?Q?", "=?UTF-8?B?"};
constexpr std::string_view kWordEnd = "?=";
constexpr size_t kWordOverhead = 12;  // "=?UTF-8?Q?" and "?="
constexpr size_t kLongestWord = 75;
constexpr kxChar kSpace[1] = {' '};

// A word a reader would not give back as it is: a character outside printable ASCII (controls, CR, LF,
// non-ASCII), or "=?", which could begin an encoded word.
bool needsEncoding(CodePoints word) {
  for (size_t i = 0; i < word.size(); ++i) {
    if (!isPrintableAscii(word[i])) return true;
    if (word[i] == '=' && i + 1 < word.size() && word[i + 1] == '?') return true;
  }
  return false;
}

// The octets that Q writes as themselves; SP becomes "_", everything else "=" and two hexadecimal digits.
// Only letters, digits and "!*+-/": those are safe in every place an encoded word may stand.
bool isQLiteral(kxByte octet) {
  return (octet >= 'A' && octet <= 'Z') || (octet >= 'a' && octet <= 'z') || (octet >= '0' && octet <= '9') ||
         octet == '!' || octet == '*' || octet == '+' || octet == '-' || octet == '/';
}

size_t qLength(kxByte octet) {
  return isQLiteral(octet) || octet == ' ' ? 1 : 3;
}

size_t base64Length(size_t octets) {
  return (octets + 2) / 3 * 4;
}

void Encoder::plainWord(CodePoints separator, CodePoints word, CodePoints trailingBlanks) {
  // The fold goes before the white space, which stays: unfolding gives the text back.
  if (tokenOnLine_ && !separator.empty() && !fits(separator.size() + word.size() + trailingBlanks.size()))
    fold();
  append(separator);
  append(word);
  append(trailingBlanks);
  tokenOnLine_ = true;
}

void Encoder::encodedRun(CodePoints separator, CodePoints run) {
  Octets octets;
  std::vector<size_t> ends;  // where each character's octets end
  octets.reserve(run.size() * 2);
  ends.reserve(run.size());
  for (kxChar c : run) {
    char utf8[4];
    const char *after = kx::utf8::encode(c, utf8);  // U+FFFD for what UTF-8 cannot carry
    const char *begin = utf8;
    octets.insert(octets.end(), begin, after);
    ends.push_back(octets.size());
  }
  size_t qTotal = 0;
  for (kxByte octet : octets) qTotal += qLength(octet);
  base64_ = base64Length(octets.size()) < qTotal;

  size_t from = 0;  // the first character not yet written
  for (bool first = true; from < run.size(); first = false) {
    const CodePoints space = first ? separator : CodePoints(kSpace);
    const bool mayFold = tokenOnLine_ && !space.empty();
    size_t room = wrap_ < 0 ? kLongestWord
                            : (fits(space.size()) ? static_cast<size_t>(wrap_) - line_ - space.size() : 0);
    size_t to = fitting(octets, ends, from, std::min(room, kLongestWord));
    if (to == from && mayFold && wrap_ >= 0) {
      fold();
      room = static_cast<size_t>(wrap_) > space.size() ? static_cast<size_t>(wrap_) - space.size() : 0;
      to = fitting(octets, ends, from, std::min(room, kLongestWord));
    }
    if (to == from) to = from + 1;  // one character that fits on no line: the line grows
    append(space);
    writeWord(octets, from == 0 ? 0 : ends[from - 1], ends[to - 1]);
    tokenOnLine_ = true;
    from = to;
  }
}

// The end (a character index) of the longest row of characters from `first` on whose word is at most `room`
// characters long; `first` when not even one fits.
size_t Encoder::fitting(const Octets &octets, const std::vector<size_t> &ends, size_t first,
                        size_t room) const {
  if (room <= kWordOverhead) return first;
  const size_t budget = room - kWordOverhead;
  const size_t start = first == 0 ? 0 : ends[first - 1];
  size_t length = 0;
  size_t to = first;
  for (size_t end = start; to < ends.size(); ++to) {
    if (base64_) {
      length = base64Length(ends[to] - start);
    } else {
      for (; end < ends[to]; ++end) length += qLength(octets[end]);
    }
    if (length > budget) break;
  }
  return to;
}

void Encoder::writeWord(const Octets &octets, size_t from, size_t to) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  const size_t before = out_.size();
  out_.insert(out_.end(), kUtf8WordStart[base64_].begin(), kUtf8WordStart[base64_].end());
  if (base64_) {
    for (size_t i = from; i < to; i += 3) {
      const size_t n = std::min<size_t>(3, to - i);
      const uint32_t bits = static_cast<uint32_t>(octets[i]) << 16 | (n > 1 ? octets[i + 1] << 8 : 0) |
                            (n > 2 ? octets[i + 2] : 0);
      const char group[4] = {kBase64Alphabet[bits >> 18 & 63], kBase64Alphabet[bits >> 12 & 63],
                             n > 1 ? kBase64Alphabet[bits >> 6 & 63] : '=',
                             n > 2 ? kBase64Alphabet[bits & 63] : '='};
      out_.insert(out_.end(), group, group + 4);
    }
  } else {
    for (size_t i = from; i < to; ++i) {
      const kxByte octet = octets[i];
      if (isQLiteral(octet)) {
        out_.push_back(octet);
      } else if (octet == ' ') {
        out_.push_back('_');
      } else {
        const char escape[3] = {'=', kHexDigits[octet >> 4], kHexDigits[octet & 15]};
        out_.insert(out_.end(), escape, escape + 3);
      }
    }
  }
  out_.insert(out_.end(), kWordEnd.begin(), kWordEnd.end());
  line_ += out_.size() - before;
}

}  // namespace
