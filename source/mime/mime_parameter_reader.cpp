// Reading the parameter list of a structured header field value (see mime_parameter_reader.hpp): from the
// tokens of the value as spans, objects made only for what the result holds.
#include "mime/mime_parameter_reader.hpp"

#include <array>

#include "mime/mime_content_type.hpp"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_scratch.hpp"

namespace {

using mime::CodePoints;
using mime::HeaderWords;
using mime::Parameter;
using mime::Parameters;
using mime::ShfTokenSpan;

Parameters readParameters(HeaderWords &words, std::span<const ShfTokenSpan> tokens, size_t first,
                          CodePoints text, std::pmr::memory_resource *scratch);

}  // namespace

namespace mime {

bool HeaderWords::otherWord(const ShfTokenSpan &token, Place *place) {
  const auto start = static_cast<size_t>(token.start);
  const auto length = static_cast<size_t>(token.length);
  if (token.type != MIME_SHF_TOKEN_TYPE_QUOTED_STRING) return false;
  const CodePoints inner = text_.subspan(start + 1, length - 2);
  if (std::find(inner.begin(), inner.end(), kxChar{'\\'}) == inner.end()) {
    *place = {Where::kText, start + 1, length - 2};  // nothing to unescape: the text between the quotes
    return true;
  }
  const size_t before = buffer_.size();
  appendUnescapedInner(text_.subspan(start, length), buffer_);
  *place = {Where::kBuffer, before, buffer_.size() - before};
  return true;
}

namespace {

// What one pass over a key needs to know of each code point: whether a key may hold it, whether it is a
// capital letter, and whether it marks an RFC 2231 key; a code point past ASCII has none of the three.
enum KeyCharBit : unsigned char { kKeyChar = 1, kCapital = 2, kRfc2231Mark = 4 };
constexpr auto kKeyCharBits = [] {
  std::array<unsigned char, 128> bits{};
  for (kxChar c = 0; c < 128; ++c) {
    if (isParameterKeyChar(c)) bits[c] |= kKeyChar;
    if (c >= 'A' && c <= 'Z') bits[c] |= kCapital;
    if (c == '*' || c == '\'' || c == '%') bits[c] |= kRfc2231Mark;
  }
  return bits;
}();

}  // namespace

bool HeaderWords::acceptableKey(Place *place) {
  const CodePoints key = chars(*place);
  unsigned every = kKeyChar, some = 0;
  for (kxChar c : key) {
    const unsigned bits = c < 128 ? kKeyCharBits[c] : 0u;
    every &= bits;
    some |= bits;
  }
  if (key.empty() || !(every & kKeyChar)) return false;
  if (some & kRfc2231Mark) rfc2231Keys_ = true;
  if (!(some & kCapital)) return true;
  const size_t before = buffer_.size();
  buffer_.resize(before + place->length);  // first: the copy may come from the buffer itself
  const CodePoints source = chars(*place);
  for (size_t i = 0; i < place->length; ++i) buffer_[before + i] = lowerCaseLetter(source[i]);
  *place = {Where::kBuffer, before, place->length};
  return true;
}

KX_DICT *decodeParameterList(HeaderWords &words, std::span<const ShfTokenSpan> tokens, size_t first,
                             CodePoints text, MIME_OPTIONS *mo, std::pmr::memory_resource *scratch) {
  const Parameters parameters = readParameters(words, tokens, first, text, scratch);
  // Only keys holding "*", "'" or "%" are changed by the RFC 2231 decode: every other acceptable key is an
  // ordinary attribute that it keeps as it is.
  if ((mimeOptionsFlags(mo) & MIME_FLAG_PARSE_RFC2231_HEADERS) && words.sawRfc2231Keys())
    return dictOfParameters(rfc2231DecodeParameters(parameters, scratch), scratch);
  return dictOfParameters(parameters, scratch);
}

}  // namespace mime

namespace {

// *( ";" key [ "=" [ value ] ] ) from tokens[first] on, keys lower-cased; a later key replaces an earlier
// one. A parameter without a usable value gets the empty value.
Parameters readParameters(HeaderWords &words, std::span<const ShfTokenSpan> tokens, size_t first,
                          CodePoints text, std::pmr::memory_resource *scratch) {
  struct Read {
    HeaderWords::Place key;
    HeaderWords::Place value;
  };
  mime::ScratchVector<Read> read(scratch);
  const size_t n = tokens.size();
  read.reserve(std::min<size_t>(n / 4 + 1, 32));
  size_t p = first;
  while (p + 1 < n && mime::isTspecialToken(tokens[p], text, ';')) {
    Read parameter;
    if (!words.word(tokens[p + 1], &parameter.key)) break;
    size_t next = p + 4;
    if (p + 2 >= n || !mime::isTspecialToken(tokens[p + 2], text, '=')) {
      next = p + 2;  // "; key" alone
    } else if (p + 3 >= n || !words.word(tokens[p + 3], &parameter.value)) {
      next = p + 3;  // "; key =" with nothing usable after it
    }
    if (words.acceptableKey(&parameter.key)) read.push_back(parameter);
    p = next;
  }
  // Sorted as plain spans, which are cheap to move, by key and then in the order read, so that of a
  // repeated key the last one read is the one kept.
  struct Text {
    CodePoints key;
    CodePoints value;
    size_t order;
  };
  mime::ScratchVector<Text> texts(scratch);
  texts.reserve(read.size());
  for (size_t i = 0; i < read.size(); ++i)
    texts.push_back({words.chars(read[i].key), words.chars(read[i].value), i});
  std::sort(texts.begin(), texts.end(), [](const Text &a, const Text &b) {
    const std::strong_ordering byKey = mime::compareKeys(a.key, b.key);
    return byKey != 0 ? byKey < 0 : a.order < b.order;
  });
  Parameters parameters(scratch);
  parameters.reserve(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i + 1 < texts.size() && mime::compareKeys(texts[i].key, texts[i + 1].key) == 0) continue;
    parameters.emplace_back(texts[i].key, texts[i].value, texts[i].order);
  }
  return parameters;
}

}  // namespace
