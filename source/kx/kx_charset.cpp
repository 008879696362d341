// Charset conversion between strings of code points and octets. US-ASCII, ISO-8859-1 and UTF-8 (the
// charsets of boundaries, of most bodies and of every header) are converted here by hand, runs of ASCII
// 32 or 8 characters at a time; every other charset goes through glibc's iconv, with descriptors cached
// per thread because a descriptor carries conversion state and must not be shared between threads.
//
// Encoding never writes a code point that the charset cannot hold: such a string gives null, and so does
// any lone surrogate or value above U+10FFFF, which no Unicode encoding form may carry. Decoding takes
// every octet sequence: lenient decoding writes U+FFFD for each invalid sequence (for UTF-8 one per
// maximal ill-formed subpart), strict decoding gives null. A charset whose converter cannot be opened gives
// null both ways.
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "kx/kx_charset_internal.hpp"
#include "kx/kx_string_internal.hpp"
#include "kx/kx_utf8.hpp"

namespace {

using Chars = std::span<const kxChar>;
using Octets = std::span<const kxByte>;

KX_BUFFER *encodeSingleOctet(Chars chars, kxChar highest);
KX_BUFFER *encodeUtf8(Chars chars);
KX_BUFFER *encodeWithIconv(Chars chars, kxInt charset);
KX_STRING *decodeAscii(Octets octets, bool strict);
KX_STRING *decodeLatin1(Octets octets);
KX_STRING *decodeUtf8(Octets octets, bool strict);
KX_STRING *decodeWithIconv(Octets octets, kxInt charset, bool strict);

}  // namespace

extern "C" {

KX_BUFFER *kxCharsetConvertStringToBuffer(KX_STRING *s, kxInt charset) {
  KX_ASSERT(s);
  KX_ASSERT(KX_CHARSET_OK(charset));
  const Chars chars(kxStringBacking(s), static_cast<size_t>(kxStringLength(s)));
  switch (charset) {
    case KX_CHARSET_US_ASCII:
      return encodeSingleOctet(chars, 0x7F);
    case KX_CHARSET_ISO_8859_1:
      return encodeSingleOctet(chars, 0xFF);
    case KX_CHARSET_UTF_8:
      return encodeUtf8(chars);
    default:
      return encodeWithIconv(chars, charset);
  }
}

KX_STRING *kxCharsetConvertBufferToString(KX_BUFFER *b, kxInt charset) {
  return kxCharsetTryConvertBufferToStringWithFlags(b, charset, 0);
}

KX_STRING *kxCharsetTryConvertBufferToStringWithFlags(KX_BUFFER *b, kxInt charset, kxInt flags) {
  KX_ASSERT(b);
  KX_ASSERT(KX_CHARSET_OK(charset));
  KX_ASSERT((flags & ~KX_CHARSET_FLAG_STRICT) == 0);
  const bool strict = (flags & KX_CHARSET_FLAG_STRICT) != 0;
  const Octets octets(kxBufferBacking(b), static_cast<size_t>(kxBufferLength(b)));
  switch (charset) {
    case KX_CHARSET_US_ASCII:
      return decodeAscii(octets, strict);
    case KX_CHARSET_ISO_8859_1:
      return decodeLatin1(octets);
    case KX_CHARSET_UTF_8:
      return decodeUtf8(octets, strict);
    default:
      return decodeWithIconv(octets, charset, strict);
  }
}

}  // extern "C"

// --- runs of ASCII ---

namespace {

// Runs of ASCII are tested and converted by fixed-size loops, which the compiler turns into vector
// instructions: kRun characters at a time, and kShortRun at a time in text that has a non-ASCII character
// every few dozen (accented Latin).
constexpr size_t kRun = 32;
constexpr size_t kShortRun = 8;

// True when the Length octets at p are all ASCII.
template <size_t Length>
bool asciiRun(const kxByte *p) {
  uint64_t words[Length / 8];
  std::memcpy(words, p, sizeof words);
  uint64_t seen = 0;
  for (uint64_t word : words) seen |= word;
  return (seen & 0x8080808080808080u) == 0;
}

// True when the Length code points at p are all ASCII.
template <size_t Length>
bool asciiRun(const kxChar *p) {
  kxChar seen = 0;
  for (size_t k = 0; k < Length; ++k) seen |= p[k];
  return seen < 0x80;
}

// Converts Length octets to code points, or Length ASCII code points to octets.
template <size_t Length, typename From, typename To>
void convertRun(const From *in, To *out) {
  for (size_t k = 0; k < Length; ++k) out[k] = static_cast<To>(in[k]);
}

// The length of the ASCII run that starts at `at` and is converted at once: kRun, kShortRun or 0.
template <typename T>
size_t asciiRunAt(std::span<const T> text, size_t at) {
  const size_t left = text.size() - at;
  if (left >= kRun && asciiRun<kRun>(&text[at])) return kRun;
  if (left >= kShortRun && asciiRun<kShortRun>(&text[at])) return kShortRun;
  return 0;
}

// Converts the run of `length` (kRun or kShortRun) characters.
template <typename From, typename To>
void convertRunOf(size_t length, const From *in, To *out) {
  if (length == kRun) {
    convertRun<kRun>(in, out);
  } else {
    convertRun<kShortRun>(in, out);
  }
}

// True when every octet is ASCII.
bool allAscii(Octets octets) {
  size_t i = 0;
  for (; octets.size() - i >= kRun; i += kRun) {
    if (!asciiRun<kRun>(&octets[i])) return false;
  }
  for (; i < octets.size(); ++i) {
    if (octets[i] >= 0x80) return false;
  }
  return true;
}

// A string of exactly `length` code points whose contents the caller writes.
KX_STRING *newString(size_t length) {
  KX_STRING *s = kx::stringCreateWithCapacity(static_cast<kxInt>(length));
  s->length = static_cast<kxInt>(length);
  return s;
}

// The decoded string, which was given a block of one code point per octet: text in scripts of two or more
// octets per character leaves most of it unused, and a string of the exact size costs one copy of the
// (smaller) result.
KX_STRING *withoutSlack(kx::Ref<KX_STRING> s) {
  if (s->capacity - s->length > s->length) return kxStringCreateFromChars(s->chars, s->length);
  return s.release();
}

}  // namespace

// --- US-ASCII and ISO-8859-1 ---

namespace {

// One octet per code point; highest is 0x7F or 0xFF, so a code point fits exactly when it has no bit
// above those of highest.
KX_BUFFER *encodeSingleOctet(Chars chars, kxChar highest) {
  kxByte *out;
  kx::Ref<KX_BUFFER> buffer(kxBufferCreateUninitialized(static_cast<kxInt>(chars.size()), &out));
  constexpr size_t kBlock = 4096;  // checked per block, so that a misfit early in a long text stops early
  for (size_t start = 0; start < chars.size(); start += kBlock) {
    const size_t stop = std::min(chars.size(), start + kBlock);
    kxChar seen = 0;
    for (size_t i = start; i < stop; ++i) {
      seen |= chars[i];
      out[i] = static_cast<kxByte>(chars[i]);
    }
    if (seen > highest) return nullptr;
  }
  return buffer.release();
}

KX_STRING *decodeLatin1(Octets octets) {
  KX_STRING *s = newString(octets.size());
  std::copy(octets.begin(), octets.end(), s->chars);  // every octet is the code point of the same value
  return s;
}

// Widened like ISO-8859-1 first, then the rare octets above 127 are mended: two simple passes are faster
// than one that tests every octet.
KX_STRING *decodeAscii(Octets octets, bool strict) {
  const bool ascii = allAscii(octets);
  if (!ascii && strict) return nullptr;
  KX_STRING *s = decodeLatin1(octets);
  if (ascii) return s;
  for (size_t i = 0; i < octets.size(); ++i) {
    if (octets[i] >= 0x80) s->chars[i] = kx::utf8::kReplacement;
  }
  return s;
}

}  // namespace

// --- UTF-8 ---

namespace {

// True for every code point that UTF-8 can carry: not a surrogate, not above U+10FFFF. Branch-free, so
// that the length pass over a long text vectorises.
bool utf8Encodable(kxChar c) {
  return (c - 0xD800u) >= 0x800u && c <= 0x10FFFFu;
}

size_t utf8Length(kxChar c) {
  return 1 + (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
}

// The length of chars in UTF-8, or SIZE_MAX when some code point has no UTF-8 form.
size_t utf8LengthOf(Chars chars) {
  size_t length = 0;
  kxChar unencodable = 0;
  size_t i = 0;
  for (; chars.size() - i >= kRun; i += kRun) {  // fixed-size blocks with narrow counters vectorise
    uint32_t blockLength = 0;
    for (size_t k = 0; k < kRun; ++k) {
      blockLength += static_cast<uint32_t>(utf8Length(chars[i + k]));
      unencodable |= !utf8Encodable(chars[i + k]);
    }
    length += blockLength;
  }
  for (; i < chars.size(); ++i) {
    length += utf8Length(chars[i]);
    unencodable |= !utf8Encodable(chars[i]);
  }
  return unencodable ? SIZE_MAX : length;
}

KX_BUFFER *encodeUtf8(Chars chars) {
  const size_t length = utf8LengthOf(chars);
  if (length == SIZE_MAX) return nullptr;
  kxByte *backing;
  KX_BUFFER *buffer = kxBufferCreateUninitialized(static_cast<kxInt>(length), &backing);
  char *out = reinterpret_cast<char *>(backing);
  size_t i = 0;
  while (i < chars.size()) {
    if (const size_t run = asciiRunAt(chars, i)) {
      convertRunOf(run, &chars[i], out);
      out += run;
      i += run;
    } else {
      do {  // characters one by one up to the next ASCII one: text in other scripts stays in this loop
        out = kx::utf8::encode(chars[i++], out);
      } while (i < chars.size() && chars[i] >= 0x80);
    }
  }
  return buffer;
}

// True when the octets from p to after, which the reader turned into U+FFFD, really are that character
// (EF BF BD) and not an ill-formed sequence.
bool encodedReplacement(const kxByte *p, const kxByte *after) {
  return after - p == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD;
}

KX_STRING *decodeUtf8(Octets octets, bool strict) {
  kx::Ref<KX_STRING> s(kx::stringCreateWithCapacity(static_cast<kxInt>(octets.size())));  // never more
  kxChar *out = s->chars;
  size_t i = 0;
  while (i < octets.size()) {
    if (const size_t run = asciiRunAt(octets, i)) {
      convertRunOf(run, &octets[i], out);
      out += run;
      i += run;
    } else if (octets[i] < 0x80) {
      *out++ = octets[i++];
    } else {
      // Sequences one by one up to the next ASCII octet: text in other scripts stays in this loop.
      const kxByte *p = &octets[i];
      const kxByte *end = octets.data() + octets.size();
      do {
        const kxByte *after = kx::utf8::decode(p, end, out);
        if (strict && *out == kx::utf8::kReplacement && !encodedReplacement(p, after)) return nullptr;
        ++out;
        p = after;
      } while (p < end && *p >= 0x80);
      i = static_cast<size_t>(p - octets.data());
    }
  }
  s->length = out - s->chars;
  return withoutSlack(std::move(s));
}

}  // namespace

// --- iconv ---

namespace {

// The form in which code points pass to and from iconv: UTF-32 in the machine's byte order, so that a
// string's backing is iconv's input and a string's block its output.
constexpr const char *kNativeUtf32 = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? "UTF-32LE" : "UTF-32BE";

const iconv_t kNotOpen = reinterpret_cast<iconv_t>(-1);
constexpr size_t kIconvError = static_cast<size_t>(-1);

// The descriptors of one thread, opened on first use and closed when the thread ends.
class Converters {
 public:
  Converters() {
    encoders_.fill(kNotOpen);
    decoders_.fill(kNotOpen);
  }
  Converters(const Converters &) = delete;
  Converters &operator=(const Converters &) = delete;
  ~Converters() {
    for (iconv_t cd : encoders_) {
      if (cd != kNotOpen) iconv_close(cd);
    }
    for (iconv_t cd : decoders_) {
      if (cd != kNotOpen) iconv_close(cd);
    }
  }

  // A descriptor in its initial state from code points to the charset's octets; kNotOpen when none opens.
  iconv_t encoder(kxInt charset) {
    return ready(encoders_[static_cast<size_t>(charset)], kx::charset::namesOf(charset).iconv, kNativeUtf32);
  }
  // A descriptor in its initial state from the charset's octets to code points; kNotOpen when none opens.
  iconv_t decoder(kxInt charset) {
    return ready(decoders_[static_cast<size_t>(charset)], kNativeUtf32, kx::charset::namesOf(charset).iconv);
  }

 private:
  // Every charset of the table is one that glibc converts, yet opening can still fail: an installation
  // without the charset's gconv module, or no file descriptor or memory left to load it. That is no broken
  // precondition, so the conversion fails instead of the process; a later call tries again.
  static iconv_t ready(iconv_t &slot, const char *to, const char *from) {
    if (slot == kNotOpen) slot = iconv_open(to, from);
    if (slot != kNotOpen) iconv(slot, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    return slot;
  }

  std::array<iconv_t, KX_CHARSET_COUNT> encoders_;
  std::array<iconv_t, KX_CHARSET_COUNT> decoders_;
};

thread_local Converters converters;

// UTF-16 and UTF-32 without a byte order in their name are written big-endian after a byte-order mark, the
// form that readers which ignore the mark read right as well; the charset becomes the big-endian form.
// Returns the octets written at the start of out.
size_t writeByteOrderMark(kxInt &charset, std::vector<char> &out) {
  using namespace kx::charset;
  if (charset != kUtf16 && charset != kUtf32) return 0;
  static constexpr char kMark[] = {'\0', '\0', '\xFE',
                                   '\xFF'};  // U+FEFF in UTF-32BE, its last half in UTF-16BE
  const size_t length = charset == kUtf16 ? 2 : 4;
  charset = charset == kUtf16 ? kUtf16Be : kUtf32Be;
  std::copy(std::end(kMark) - length, std::end(kMark), out.begin());
  return length;
}

// UTF-16 and UTF-32 without a byte order in their name: a leading byte-order mark gives it and is dropped,
// without one the text is big-endian (RFC 2781). Read here rather than by iconv, because glibc's decoders
// take the mark into account only on the first use of a descriptor, and descriptors are reused.
void resolveByteOrder(Octets &octets, kxInt &charset) {
  using namespace kx::charset;
  auto startsWith = [&octets](std::initializer_list<kxByte> mark) {
    return octets.size() >= mark.size() && std::equal(mark.begin(), mark.end(), octets.begin());
  };
  if (charset == kUtf16) {
    charset = startsWith({0xFF, 0xFE}) ? kUtf16Le : kUtf16Be;
    if (startsWith({0xFF, 0xFE}) || startsWith({0xFE, 0xFF})) octets = octets.subspan(2);
  } else if (charset == kUtf32) {
    charset = startsWith({0xFF, 0xFE, 0x00, 0x00}) ? kUtf32Le : kUtf32Be;
    if (startsWith({0xFF, 0xFE, 0x00, 0x00}) || startsWith({0x00, 0x00, 0xFE, 0xFF}))
      octets = octets.subspan(4);
  }
}

// True for the 7-bit ISO 2022 charsets, in which ESC, SO and SI are the charset's own designations and
// shifts: iconv writes those code points raw, and the text then reads back as something else (a lone ESC
// at the end as U+FFFD), so a string holding them cannot be written in such a charset.
bool shiftsWithControls(kxInt charset) {
  return std::string_view(kx::charset::namesOf(charset).iconv).starts_with("ISO-2022-");
}

bool isShiftControl(kxChar c) {
  return c == 0x1B || c == 0x0E || c == 0x0F;
}

KX_BUFFER *encodeWithIconv(Chars chars, kxInt charset) {
  if (!std::all_of(chars.begin(), chars.end(), utf8Encodable)) return nullptr;  // no charset holds these
  if (shiftsWithControls(charset) && std::any_of(chars.begin(), chars.end(), isShiftControl)) return nullptr;
  std::vector<char> out(chars.size() * 2 + 16);  // enough for most charsets; grows when it is not
  size_t used = writeByteOrderMark(charset, out);
  iconv_t cd = converters.encoder(charset);
  if (cd == kNotOpen) return nullptr;
  char *in = reinterpret_cast<char *>(const_cast<kxChar *>(chars.data()));  // iconv only reads it
  size_t inLeft = chars.size() * sizeof(kxChar);
  bool flushing = false;  // after the input: the sequence back to the initial shift state (ISO-2022-JP)
  while (true) {
    char *cursor = out.data() + used;
    size_t room = out.size() - used;
    const size_t converted =
        flushing ? iconv(cd, nullptr, nullptr, &cursor, &room) : iconv(cd, &in, &inLeft, &cursor, &room);
    const int error = converted == kIconvError ? errno : 0;
    used = static_cast<size_t>(cursor - out.data());
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ: a code point the charset cannot hold. A positive count: characters converted only
    // approximately, which would not give the text back either.
    if (error != 0 || converted != 0) return nullptr;
    if (flushing) break;
    flushing = true;
  }
  return kxBufferCreateFromBytes(out.data(), static_cast<kxInt>(used));
}

// Makes room in the private string s for at least one more code point, doubling its block.
void grow(kx::Ref<KX_STRING> &s) {
  kx::stringReserve(s.get(), s->capacity + 1);
}

KX_STRING *decodeWithIconv(Octets octets, kxInt charset, bool strict) {
  resolveByteOrder(octets, charset);
  if (octets.empty()) return kxStringCreate();
  iconv_t cd = converters.decoder(charset);
  if (cd == kNotOpen) return nullptr;
  const size_t unit = static_cast<size_t>(kx::charset::unitSizeOf(charset));
  char *in = reinterpret_cast<char *>(const_cast<kxByte *>(octets.data()));  // iconv only reads it
  size_t inLeft = octets.size();
  // One code point per octet is enough for the charsets of the table (Big5-HKSCS writes two code points
  // for some two-octet sequences); the block grows if ever it is not.
  kx::Ref<KX_STRING> s(kx::stringCreateWithCapacity(static_cast<kxInt>(octets.size())));
  // After the input: what a decoder still holds back, as Windows-1258 holds a letter that a combining
  // mark may follow.
  bool flushing = false;
  while (true) {
    char *cursor = reinterpret_cast<char *>(s->chars + s->length);
    size_t room = static_cast<size_t>(s->capacity - s->length) * sizeof(kxChar);
    const size_t converted =
        flushing ? iconv(cd, nullptr, nullptr, &cursor, &room) : iconv(cd, &in, &inLeft, &cursor, &room);
    const int error = converted == kIconvError ? errno : 0;
    s->length = reinterpret_cast<kxChar *>(cursor) - s->chars;
    if (error == E2BIG) {
      grow(s);
      continue;
    }
    if (error == 0) {
      if (flushing) break;
      flushing = true;
      continue;
    }
    // EILSEQ: an invalid sequence at `in`; EINVAL: a sequence cut off by the end of the octets.
    if (strict) return nullptr;
    if (s->length == s->capacity) grow(s);
    s->chars[s->length++] = kx::utf8::kReplacement;
    if (flushing) break;
    const size_t skip = error == EINVAL ? inLeft : std::min(unit, inLeft);
    in += skip;
    inLeft -= skip;
  }
  return withoutSlack(std::move(s));
}

}  // namespace
