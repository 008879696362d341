// The Content-Type header field value: written from a content type through a token vector and the folding
// encoder, read back through the tokenizer.
//
//   content-type := [comments] type "/" subtype *( ";" key [ "=" [ value ] ] ) [ anything ]
//   type, subtype, key, value := RFC 2045 token / quoted-string   ; comments anywhere, dropped first
//
// Reading is lenient past the media type: a parameter without "=" or without a usable value gets the empty
// value, a key that is not acceptable is skipped, and the first token that fits nowhere ends the list; what
// follows is ignored and the decode still succeeds.
#include <span>

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "kx/kx_vector.h"
#include "mime/mime_char.h"
#include "mime/mime_content_type.h"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_rfc2231.h"
#include "mime/mime_shf_token.h"
#include "mime/mime_shf_token_vector.h"

namespace {

using mime::Ref;
using Tokens = std::span<KX_OBJ *const>;

void appendToken(KX_VECTOR **tokens, MIME_SHF_TOKEN *adopted);
bool holdsNonAscii(KX_STRING *value);
bool holdsLineBreakOrNul(KX_STRING *value);
MIME_SHF_TOKEN *tokenAt(Tokens tokens, size_t index);
bool isTspecial(MIME_SHF_TOKEN *token, kxChar c);
Ref<KX_STRING> wordValue(MIME_SHF_TOKEN *token);
Ref<MIME_CONTENT_TYPE> readMediaType(Tokens tokens);
void readParameters(MIME_CONTENT_TYPE **type, Tokens tokens);
bool hasRfc2231Keys(KX_DICT *parameters);
void decodeRfc2231Parameters(MIME_CONTENT_TYPE **type, MIME_OPTIONS *mo);

}  // namespace

extern "C" {

KX_STRING *mimeContentTypeEncode(MIME_CONTENT_TYPE *contentType, MIME_OPTIONS *mo, kxInt firstLineOffset) {
  MIME_ASSERT(contentType);
  MIME_ASSERT(mo);
  const kxInt flags = mimeOptionsFlags(mo);
  Ref<KX_STRING> name(mimeContentTypeName(contentType));
  Ref<KX_VECTOR> typeParts(kxStringSplitChar(name.get(), '/', -1));
  KX_VECTOR *typeVector = typeParts.get();
  // clang-format off
  MIME_ASSERT(kxVectorLength( typeVector ) == 2);
  // clang-format on

  Ref<KX_VECTOR> tokens(kxVectorCreate());
  Ref<KX_STRING> mediaType(kxStringFrom(kxVectorObjAt(typeVector, 0)));
  Ref<KX_STRING> subtype(kxStringFrom(kxVectorObjAt(typeVector, 1)));
  appendToken(tokens.addr(), mimeShfTokenCreateRawValue(mediaType.get()));
  appendToken(tokens.addr(), mimeShfTokenCreateTspecial('/'));
  appendToken(tokens.addr(), mimeShfTokenCreateRawValue(subtype.get()));

  Ref<KX_DICT> parameters(mimeContentTypeParametersDict(contentType));
  if (flags & MIME_FLAG_GENERATE_RFC2231_HEADERS)
    parameters.reset(mime___Rfc2231Encode(parameters.get(), mo));
  // Tokens are immutable, so every parameter shares one ";" and one "=".
  Ref<MIME_SHF_TOKEN> separator(mimeShfTokenCreateTspecial(';'));
  Ref<MIME_SHF_TOKEN> equals(mimeShfTokenCreateTspecial('='));
  const kxInt count = kxDictLength(parameters.get());
  for (kxInt i = 0; i < count; ++i) {
    Ref<KX_STRING> key(kxDictKeyAt(parameters.get(), i));
    Ref<KX_STRING> value(kxStringFrom(kxDictValueAt(parameters.get(), i)));
    if (!(flags & MIME_FLAG_GENERATE_UNICODE_HEADERS) && holdsNonAscii(value.get())) continue;
    // A raw CR or LF would end the header line inside the value and let the rest pose as header fields of
    // its own, and a raw NUL ends the header for readers that handle C strings; without RFC 2231 escapes
    // such a parameter cannot be written safely, so it is left out.
    if (holdsLineBreakOrNul(value.get())) continue;
    kxVectorAppendObj(tokens.addr(), mimeShfTokenObj(separator.get()));
    appendToken(tokens.addr(), mimeShfTokenCreateRawValue(key.get()));
    kxVectorAppendObj(tokens.addr(), mimeShfTokenObj(equals.get()));
    appendToken(tokens.addr(), mimeShfTokenCreateTokenOrQuotedString(value.get()));
  }
  return mimeShfTokenVectorEncode(tokens.get(), mo, firstLineOffset);
}

MIME_CONTENT_TYPE *mimeContentTypeTryDecode(KX_STRING *contentType, MIME_OPTIONS *mo) {
  MIME_ASSERT(contentType);
  MIME_ASSERT(mo);
  Ref<KX_VECTOR> tokens(mimeShfTokenVectorTryDecode(contentType));
  if (!tokens) return nullptr;
  mimeShfTokenVectorDelComments(tokens.addr());
  const Tokens significant(kxVectorBacking(tokens.get()), static_cast<size_t>(kxVectorLength(tokens.get())));
  Ref<MIME_CONTENT_TYPE> type = readMediaType(significant);
  if (!type) return nullptr;
  readParameters(type.addr(), significant);
  if (mimeOptionsFlags(mo) & MIME_FLAG_PARSE_RFC2231_HEADERS) decodeRfc2231Parameters(type.addr(), mo);
  return type.release();
}

}  // extern "C"

namespace {

// --- encoding ---

void appendToken(KX_VECTOR **tokens, MIME_SHF_TOKEN *adopted) {
  Ref<MIME_SHF_TOKEN> token(adopted);
  kxVectorAppendObj(tokens, mimeShfTokenObj(token.get()));
}

bool holdsNonAscii(KX_STRING *value) {
  const kxChar *chars = kxStringBacking(value);
  const kxInt length = kxStringLength(value);
  for (kxInt i = 0; i < length; ++i) {
    if (chars[i] >= 128) return true;
  }
  return false;
}

bool holdsLineBreakOrNul(KX_STRING *value) {
  const kxChar *chars = kxStringBacking(value);
  const kxInt length = kxStringLength(value);
  for (kxInt i = 0; i < length; ++i) {
    if (mime::chars::isCr(chars[i]) || mime::chars::isLf(chars[i]) || chars[i] == 0) return true;
  }
  return false;
}

// --- decoding ---

MIME_SHF_TOKEN *tokenAt(Tokens tokens, size_t index) {
  return mimeShfTokenFrom(tokens[index]);
}

bool isTspecial(MIME_SHF_TOKEN *token, kxChar c) {
  if (mimeShfTokenType(token) != MIME_SHF_TOKEN_TYPE_TSPECIAL) return false;
  Ref<KX_STRING> value(mimeShfTokenValue(token));
  return kxStringCharAt(value.get(), 0) == c;
}

// The plain value of an RFC 2045 word (token or quoted string); null for every other token type.
Ref<KX_STRING> wordValue(MIME_SHF_TOKEN *token) {
  const kxInt type = mimeShfTokenType(token);
  if (type != MIME_SHF_TOKEN_TYPE_TOKEN && type != MIME_SHF_TOKEN_TYPE_QUOTED_STRING) return {};
  return Ref<KX_STRING>(mimeShfTokenValue(token));
}

// type "/" subtype from the first three tokens; null when they are not two words around "/" or the name is
// not acceptable.
Ref<MIME_CONTENT_TYPE> readMediaType(Tokens tokens) {
  if (tokens.size() < 3) return {};
  Ref<KX_STRING> mediaType = wordValue(tokenAt(tokens, 0));
  if (!mediaType || !isTspecial(tokenAt(tokens, 1), '/')) return {};
  Ref<KX_STRING> subtype = wordValue(tokenAt(tokens, 2));
  if (!subtype) return {};
  Ref<KX_STRING> name(kxStringCreateFromFormatCstr("%s/%s", mediaType.get(), subtype.get()));
  if (!mimeContentTypeNameOk(name.get())) return {};
  return Ref<MIME_CONTENT_TYPE>(mimeContentTypeCreate(name.get()));
}

// *( ";" key [ "=" [ value ] ] ) from token 3 on, stored in order (a later key replaces an earlier one).
void readParameters(MIME_CONTENT_TYPE **type, Tokens tokens) {
  const size_t n = tokens.size();
  size_t p = 3;
  Ref<KX_STRING> empty(kxStringCreate());
  while (p + 1 < n && isTspecial(tokenAt(tokens, p), ';')) {
    Ref<KX_STRING> key = wordValue(tokenAt(tokens, p + 1));
    if (!key) break;
    Ref<KX_STRING> value;
    size_t next = p + 4;
    if (p + 2 >= n || !isTspecial(tokenAt(tokens, p + 2), '=')) {
      next = p + 2;  // "; key" alone
    } else if (p + 3 >= n || !(value = wordValue(tokenAt(tokens, p + 3)))) {
      next = p + 3;  // "; key =" with nothing usable after it
    }
    if (mimeContentTypeParameterKeyOk(key.get())) {
      mimeContentTypeSetParameter(type, key.get(), value ? value.get() : empty.get());
    }
    p = next;
  }
}

// True when some key holds "*", "'" or "%": only such keys are changed by the RFC 2231 decode, since every
// other acceptable key is an ordinary attribute that it keeps as it is.
bool hasRfc2231Keys(KX_DICT *parameters) {
  const kxInt count = kxDictLength(parameters);
  for (kxInt i = 0; i < count; ++i) {
    Ref<KX_STRING> key(kxDictKeyAt(parameters, i));
    const kxChar *chars = kxStringBacking(key.get());
    const kxInt length = kxStringLength(key.get());
    for (kxInt j = 0; j < length; ++j) {
      if (chars[j] == '*' || chars[j] == '\'' || chars[j] == '%') return true;
    }
  }
  return false;
}

// Joins and decodes the RFC 2231 forms; keys that hold "*", "'" or "%" outside a recognised form disappear.
void decodeRfc2231Parameters(MIME_CONTENT_TYPE **type, MIME_OPTIONS *mo) {
  Ref<KX_DICT> decoded;
  {
    Ref<KX_DICT> parameters(mimeContentTypeParametersDict(*type));
    if (!hasRfc2231Keys(parameters.get())) return;  // the decode would give the same parameters back
    decoded.reset(mime___Rfc2231Decode(parameters.get(), mo));
  }  // the dictionary is the type's alone again, so clearing it copies nothing
  mimeContentTypeClearParameters(type);
  const kxInt count = kxDictLength(decoded.get());
  for (kxInt i = 0; i < count; ++i) {
    Ref<KX_STRING> key(kxDictKeyAt(decoded.get(), i));
    Ref<KX_STRING> value(kxStringFrom(kxDictValueAt(decoded.get(), i)));
    mimeContentTypeSetParameter(type, key.get(), value.get());
  }
}

}  // namespace
