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
#include <cstring>
#include <span>
#include <vector>

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "kx/kx_vector.h"
#include "mime/mime_char.h"
#include "mime/mime_content_type.h"
#include "mime/mime_content_type.hpp"
#include "mime/mime_failure.hpp"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_parameter_list.hpp"
#include "mime/mime_parameter_reader.hpp"
#include "mime/mime_rfc2231.hpp"
#include "mime/mime_scratch.hpp"
#include "mime/mime_shf_token_vector.hpp"

namespace {

using kx::Ref;
using mime::CodePoints;
using mime::HeaderWords;
using mime::ShfTokenSpan;

constexpr kxChar kBoundary[8] = {'b', 'o', 'u', 'n', 'd', 'a', 'r', 'y'};

CodePoints charsOf(KX_STRING *s);
void assertOneSlash(KX_STRING *name);

Ref<KX_STRING> readMediaType(HeaderWords &words, std::span<const ShfTokenSpan> tokens, CodePoints text,
                             std::pmr::memory_resource *scratch);

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
  return mime::decodeContentType(charsOf(contentType), mo);
}

MIME_CONTENT_TYPE *mimeContentTypeTryDecodeCstr(const char *contentType, kxInt length, MIME_OPTIONS *mo) {
  MIME_ASSERT(contentType || length == 0);
  MIME_ASSERT(length >= -1);
  MIME_ASSERT(mo);
  const mime::Utf8CodePoints text(contentType,
                                  length < 0 ? std::strlen(contentType) : static_cast<size_t>(length));
  return mime::decodeContentType(text.chars(), mo);
}

}  // extern "C"

MIME_CONTENT_TYPE *mime::decodeContentType(CodePoints text, MIME_OPTIONS *mo) {
  mime::clearFailure("Content-Type");
  mime::ScratchArena scratch;
  mime::ScratchVector<ShfTokenSpan> tokens(&scratch);
  if (!mime::scanValueTokens(text, tokens)) return nullptr;
  HeaderWords words(text);
  Ref<KX_STRING> name = readMediaType(words, tokens, text, &scratch);
  if (!name) return nullptr;
  Ref<KX_DICT> dict(mime::decodeParameterList(words, tokens, 3, text, mo, &scratch));
  return mime::createContentType(name.release(), dict.release());
}

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

// Where the media type at the start breaks off: the first of the three tokens that is not what it should
// be, or the end of the text.
kxInt breakOfMediaType(std::span<const ShfTokenSpan> tokens, CodePoints text) {
  const bool fits[3] = {tokens.size() > 0 && (tokens[0].type == MIME_SHF_TOKEN_TYPE_TOKEN ||
                                              tokens[0].type == MIME_SHF_TOKEN_TYPE_QUOTED_STRING),
                        tokens.size() > 1 && mime::isTspecialToken(tokens[1], text, '/'), false};
  for (size_t i = 0; i < 3; ++i) {
    if (i >= tokens.size()) return static_cast<kxInt>(text.size());
    if (!fits[i]) return tokens[i].start;
  }
  return static_cast<kxInt>(text.size());
}

// type "/" subtype from the first three tokens, as a new name in normal form (put together in scratch);
// null, with the failure recorded, when they are not two words around "/" or the name is not acceptable.
Ref<KX_STRING> readMediaType(HeaderWords &words, std::span<const ShfTokenSpan> tokens, CodePoints text,
                             std::pmr::memory_resource *scratch) {
  HeaderWords::Place mediaType, subtype;
  if (tokens.size() < 3 || !words.word(tokens[0], &mediaType) ||
      !mime::isTspecialToken(tokens[1], text, '/') || !words.word(tokens[2], &subtype)) {
    mime::fail(MIME_FAILURE_NO_MEDIA_TYPE, breakOfMediaType(tokens, text));
    return {};
  }
  const CodePoints typeChars = words.chars(mediaType), subtypeChars = words.chars(subtype);
  mime::ScratchVector<kxChar> name(scratch);
  name.reserve(typeChars.size() + 1 + subtypeChars.size());
  name.insert(name.end(), typeChars.begin(), typeChars.end());
  name.push_back('/');
  name.insert(name.end(), subtypeChars.begin(), subtypeChars.end());
  // Every shared word with a "/" is an acceptable name in lower case: a common name as written is done.
  if (KX_STRING *shared = mime::sharedWord(name)) return Ref<KX_STRING>(shared);
  if (!mime::contentTypeNameOk(name)) {
    mime::fail(MIME_FAILURE_BAD_MEDIA_TYPE, tokens[mime::mediaTypeWordOk(typeChars) ? 2 : 0].start);
    return {};
  }
  for (kxChar &c : name) c = mime::lowerCaseLetter(c);
  return Ref<KX_STRING>(mime::sharedString(name));
}

}  // namespace
