// The Content-Type header field value: written as the name and the parameter list, read back with the
// tokenizer of token vectors.
//
//   content-type := [comments] type "/" subtype *( ";" key [ "=" [ value ] ] ) [ anything ]
//   type, subtype, key, value := RFC 2045 token / quoted-string   ; comments anywhere, dropped first
//
// Reading is lenient past the media type: a parameter without "=" or without a usable value gets the empty
// value, a key that is not acceptable is skipped, and the first token that fits nowhere ends the list; what
// follows is ignored and the decode still succeeds.
//
// Both directions work on the code points of the whole value and make objects only for what the result
// holds: the tokens are spans of the header text, and the parameters a list of code point ranges that the
// RFC 2231 codec takes as it is, so that a decode makes the content type, its name, its dictionary and the
// strings in it, and an encode makes the one string it returns. What they read is exactly what a token
// vector would give. The name is written whole (a fold may come before it, never inside), the parameters
// with the folds of the parameter list, and the boundary never in RFC 2231 sections: a reader looks it up
// as "boundary=".
#include <algorithm>
#include <span>
#include <vector>

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "kx/kx_vector.h"
#include "mime/mime_char.h"
#include "mime/mime_content_type.h"
#include "mime/mime_content_type.hpp"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_parameter_list.hpp"
#include "mime/mime_rfc2231.hpp"
#include "mime/mime_shf_token_vector.hpp"

namespace {

using mime::CodePointBuffer;
using mime::CodePoints;
using mime::Parameter;
using mime::Parameters;
using mime::Ref;
using mime::ShfTokenSpan;

constexpr kxChar kBoundary[8] = {'b', 'o', 'u', 'n', 'd', 'a', 'r', 'y'};

CodePoints charsOf(KX_STRING *s);
void assertOneSlash(KX_STRING *name);

kxChar lowerCaseLetter(kxChar c);

// The plain values of the words (tokens and quoted strings) of one header value. A token's plain value is its
// raw text, so it stays where it is in the header; quoted strings are unescaped, and keys lower-cased, into
// one buffer. Places are kept as offsets while the buffer grows and become code points once reading is done.
class Words {
 public:
  enum class Where : size_t { kText, kBuffer };
  struct Place {
    Where where = Where::kText;
    size_t start = 0;
    size_t length = 0;  // the default place is the empty value
  };

  explicit Words(CodePoints text) : text_(text) {}

  // The plain value of an RFC 2045 word in *place; false for every other token type.
  bool word(const ShfTokenSpan &token, Place *place) {
    const auto start = static_cast<size_t>(token.start);
    const auto length = static_cast<size_t>(token.length);
    if (token.type == MIME_SHF_TOKEN_TYPE_TOKEN) {
      *place = {Where::kText, start, length};
      return true;
    }
    if (token.type != MIME_SHF_TOKEN_TYPE_QUOTED_STRING) return false;
    const size_t before = buffer_.size();
    mime::appendUnescapedInner(text_.subspan(start, length), buffer_);
    *place = {Where::kBuffer, before, buffer_.size() - before};
    return true;
  }

  // The place of the word in lower case (ASCII letters only, as kxStringToLower does): the word itself when
  // it holds no capital letter, else a copy.
  Place lowerCase(Place place) {
    const CodePoints original = chars(place);
    if (std::none_of(original.begin(), original.end(), [](kxChar c) { return c >= 'A' && c <= 'Z'; }))
      return place;
    const size_t before = buffer_.size();
    buffer_.resize(before + place.length);  // first: the copy may come from the buffer itself
    const CodePoints source = chars(place);
    for (size_t i = 0; i < place.length; ++i) buffer_[before + i] = lowerCaseLetter(source[i]);
    return {Where::kBuffer, before, place.length};
  }

  CodePoints chars(Place place) const {
    return (place.where == Where::kBuffer ? CodePoints(buffer_) : text_).subspan(place.start, place.length);
  }

 private:
  CodePoints text_;
  CodePointBuffer buffer_;
};

Ref<KX_STRING> readMediaType(Words &words, std::span<const ShfTokenSpan> tokens, CodePoints text);
Parameters readParameters(Words &words, std::span<const ShfTokenSpan> tokens, CodePoints text);
bool hasRfc2231Keys(std::span<const Parameter> parameters);

}  // namespace

extern "C" {

KX_STRING *mimeContentTypeEncode(MIME_CONTENT_TYPE *contentType, MIME_OPTIONS *mo, kxInt firstLineOffset) {
  MIME_ASSERT(contentType);
  MIME_ASSERT(mo);
  mime::FoldingWriter out(mo, firstLineOffset);
  KX_STRING *name = mime::contentTypeNameOf(contentType);
  assertOneSlash(name);
  out.write(charsOf(name), false);
  mime::writeParameterList(out, mime::contentTypeParametersOf(contentType), mo, kBoundary);
  return out.finish();
}

MIME_CONTENT_TYPE *mimeContentTypeTryDecode(KX_STRING *contentType, MIME_OPTIONS *mo) {
  MIME_ASSERT(contentType);
  MIME_ASSERT(mo);
  const CodePoints text = charsOf(contentType);
  std::vector<ShfTokenSpan> tokens;
  tokens.reserve(std::min<size_t>(text.size(), 32));
  const bool wellFormed = mime::scanShfTokens(text, [&tokens](const ShfTokenSpan &token) {
    if (token.type != MIME_SHF_TOKEN_TYPE_COMMENT) tokens.push_back(token);  // comments are dropped first
  });
  if (!wellFormed) return nullptr;
  Words words(text);
  Ref<KX_STRING> name = readMediaType(words, tokens, text);
  if (!name) return nullptr;
  const Parameters parameters = readParameters(words, tokens, text);
  Ref<KX_DICT> dict;
  if ((mimeOptionsFlags(mo) & MIME_FLAG_PARSE_RFC2231_HEADERS) && hasRfc2231Keys(parameters)) {
    dict.reset(mime::dictOfParameters(mime::rfc2231DecodeParameters(parameters)));
  } else {
    dict.reset(mime::dictOfParameters(parameters));
  }
  return mime::createContentType(name.release(), dict.release());
}

}  // extern "C"

namespace {

CodePoints charsOf(KX_STRING *s) {
  return {kxStringBacking(s), static_cast<size_t>(kxStringLength(s))};
}

// --- encoding ---

// Every name that the content type accepts has exactly one "/"; anything else aborts as splitting the name
// did.
void assertOneSlash(KX_STRING *name) {
  const CodePoints chars = charsOf(name);
  if (std::count(chars.begin(), chars.end(), kxChar('/')) == 1) return;
  Ref<KX_VECTOR> typeParts(kxStringSplitChar(name, '/', -1));
  KX_VECTOR *typeVector = typeParts.get();
  // clang-format off
  MIME_ASSERT(kxVectorLength( typeVector ) == 2);
  // clang-format on
}

// --- decoding ---

kxChar lowerCaseLetter(kxChar c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

bool isTspecial(const ShfTokenSpan &token, CodePoints text, kxChar c) {
  return token.type == MIME_SHF_TOKEN_TYPE_TSPECIAL && text[static_cast<size_t>(token.start)] == c;
}

// type "/" subtype from the first three tokens, as a new name in normal form; null when they are not two
// words around "/" or the name is not acceptable.
Ref<KX_STRING> readMediaType(Words &words, std::span<const ShfTokenSpan> tokens, CodePoints text) {
  Words::Place mediaType, subtype;
  if (tokens.size() < 3 || !words.word(tokens[0], &mediaType) || !isTspecial(tokens[1], text, '/') ||
      !words.word(tokens[2], &subtype))
    return {};
  CodePointBuffer name;
  const CodePoints typeChars = words.chars(mediaType), subtypeChars = words.chars(subtype);
  name.reserve(typeChars.size() + 1 + subtypeChars.size());
  name.insert(name.end(), typeChars.begin(), typeChars.end());
  name.push_back('/');
  name.insert(name.end(), subtypeChars.begin(), subtypeChars.end());
  if (!mime::contentTypeNameOk(name)) return {};
  for (kxChar &c : name) c = lowerCaseLetter(c);
  return Ref<KX_STRING>(kxStringCreateFromChars(name.data(), static_cast<kxInt>(name.size())));
}

// *( ";" key [ "=" [ value ] ] ) from token 3 on, keys lower-cased; a later key replaces an earlier one. A
// parameter without a usable value gets the empty value.
Parameters readParameters(Words &words, std::span<const ShfTokenSpan> tokens, CodePoints text) {
  struct Read {
    Words::Place key;
    Words::Place value;
  };
  std::vector<Read> read;
  const size_t n = tokens.size();
  read.reserve(std::min<size_t>(n / 4 + 1, 32));
  size_t p = 3;
  while (p + 1 < n && isTspecial(tokens[p], text, ';')) {
    Read parameter;
    if (!words.word(tokens[p + 1], &parameter.key)) break;
    size_t next = p + 4;
    if (p + 2 >= n || !isTspecial(tokens[p + 2], text, '=')) {
      next = p + 2;  // "; key" alone
    } else if (p + 3 >= n || !words.word(tokens[p + 3], &parameter.value)) {
      next = p + 3;  // "; key =" with nothing usable after it
    }
    if (mime::contentTypeParameterKeyOk(words.chars(parameter.key))) {
      parameter.key = words.lowerCase(parameter.key);
      read.push_back(parameter);
    }
    p = next;
  }
  Parameters parameters;
  parameters.reserve(read.size());
  for (size_t i = 0; i < read.size(); ++i)
    parameters.emplace_back(words.chars(read[i].key), words.chars(read[i].value), i);
  mime::sortKeepingLast(parameters);
  return parameters;
}

// True when some key holds "*", "'" or "%": only such keys are changed by the RFC 2231 decode, since every
// other acceptable key is an ordinary attribute that it keeps as it is.
bool hasRfc2231Keys(std::span<const Parameter> parameters) {
  for (const Parameter &parameter : parameters) {
    for (kxChar c : parameter.key) {
      if (c == '*' || c == '\'' || c == '%') return true;
    }
  }
  return false;
}

}  // namespace
