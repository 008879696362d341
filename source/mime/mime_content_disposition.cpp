// The Content-Disposition object: a disposition type and a dictionary of parameters, immutable while shared,
// and its header codec, which reads and writes the parameter list exactly as the Content-Type codec does
// (RFC 2231 sections and extended values, a fold only after a ";" or between sections).
//
//   disposition      := [comments] disposition-type *( ";" key [ "=" [ value ] ] ) [ anything ]
//   disposition-type := "inline" / "attachment" / extension-token   ; an RFC 2045 token, any letter case
//
// The type must be a token (a quoted string is not one) of ASCII; past it the parameter list is lenient, as
// it is for Content-Type. The RFC 2183 parameters (filename, creation-date, modification-date, read-date,
// size) are kept as the text they were given: a date or a size that does not parse is still the sender's.
#include "mime/mime_content_disposition.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "mime/mime_char.h"
#include "mime/mime_content_disposition.hpp"
#include "mime/mime_failure.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_parameter_family.hpp"
#include "mime/mime_parameter_list.hpp"
#include "mime/mime_parameter_reader.hpp"
#include "mime/mime_scratch.hpp"

struct MIME_CONTENT_DISPOSITION {
  KX_OBJ obj;
  KX_STRING *type;      // normal form: passes mimeContentDispositionTypeOk, lower case
  KX_DICT *parameters;  // normalised key -> value string, stored as given
};

MIME_DEFINE_SORT_RECORD(MIME_CONTENT_DISPOSITION, mime___ContentDispositionFreeFunc,
                        mime___ContentDispositionCompareFunc, mime___ContentDispositionToStringFunc);

namespace {

using kx::Ref;
using mime::CodePoints;
using mime::ShfTokenSpan;

constexpr char kFilename[] = "filename";

MIME_CONTENT_DISPOSITION *asDisposition(KX_OBJ *obj) {
  return reinterpret_cast<MIME_CONTENT_DISPOSITION *>(obj);
}
CodePoints charsOf(KX_STRING *s) {
  return {kxStringBacking(s), static_cast<size_t>(kxStringLength(s))};
}

bool typeOk(CodePoints type);
MIME_CONTENT_DISPOSITION *createDisposition(KX_STRING *adoptedType, KX_DICT *adoptedParameters);
Ref<KX_STRING> readType(std::span<const ShfTokenSpan> tokens, CodePoints text);
MIME_CONTENT_DISPOSITION *decodeDisposition(CodePoints text, MIME_OPTIONS *mo);

// The copy-on-write step of every changer: the object in the caller's variable, made private first.
MIME_CONTENT_DISPOSITION *privateDisposition(MIME_CONTENT_DISPOSITION **disposition) {
  mime::makePrivate(disposition, mimeContentDispositionCreateFrom);
  return *disposition;
}

}  // namespace

MIME_DEFINE_OBJECT_FAMILY(ContentDisposition, MIME_CONTENT_DISPOSITION)
MIME_DEFINE_PARAMETER_FAMILY(ContentDisposition, MIME_CONTENT_DISPOSITION, disposition, privateDisposition)

extern "C" {

MIME_CONTENT_DISPOSITION *mimeContentDispositionCreateFrom(MIME_CONTENT_DISPOSITION *source) {
  MIME_ASSERT(source);
  return createDisposition(mime::retainField(source->type), mime::retainField(source->parameters));
}

void mime___ContentDispositionFreeFunc(KX_OBJ *obj) {
  MIME_CONTENT_DISPOSITION *disposition = asDisposition(obj);
  mime::killField(&disposition->type);
  mime::killField(&disposition->parameters);
}

kxInt mime___ContentDispositionCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj) {
  MIME_CONTENT_DISPOSITION *a = asDisposition(thisObj);
  MIME_CONTENT_DISPOSITION *b = asDisposition(thatObj);
  // The type decides first; the parameters only break a tie.
  const kxInt result = kxObjCompare(kxStringObj(a->type), kxStringObj(b->type));
  if (result != 0) return result;
  return kxObjCompare(kxDictObj(a->parameters), kxDictObj(b->parameters));
}

KX_STRING *mime___ContentDispositionToStringFunc(KX_OBJ *obj) {
  MIME_CONTENT_DISPOSITION *disposition = asDisposition(obj);
  if (kxDictLength(disposition->parameters) == 0) return mime::retainField(disposition->type);
  return kxStringCreateFromFormatCstr("%s %o", disposition->type, kxDictObj(disposition->parameters));
}

// --- creating and reading ---

kxBool mimeContentDispositionTypeOk(KX_STRING *type) {
  MIME_ASSERT(type);
  return typeOk(charsOf(type));
}

MIME_CONTENT_DISPOSITION *mimeContentDispositionCreate(KX_STRING *type) {
  // clang-format off
  MIME_ASSERT(mimeContentDispositionTypeOk( type ));
  // clang-format on
  return createDisposition(kxStringToLower(type), kxDictCreate());
}

MIME_CONTENT_DISPOSITION *mimeContentDispositionCreateCstr(const char *type, kxInt length) {
  MIME_ASSERT(type);
  return mimeContentDispositionCreate(mime::cstrArgument(type, length).get());
}

KX_STRING *mimeContentDispositionType(MIME_CONTENT_DISPOSITION *disposition) {
  MIME_ASSERT(disposition);
  return mime::retainField(disposition->type);
}

KX_STRING *mimeContentDispositionFilename(MIME_CONTENT_DISPOSITION *disposition) {
  return mimeContentDispositionParameterCstr(disposition, kFilename, -1);
}

// --- changing ---

void mimeContentDispositionSetType(MIME_CONTENT_DISPOSITION **disposition, KX_STRING *type) {
  MIME_ASSERT(disposition);
  MIME_ASSERT(*disposition);
  // clang-format off
  MIME_ASSERT(mimeContentDispositionTypeOk( type ));
  // clang-format on
  Ref<KX_STRING> normalType(kxStringToLower(type));
  mime::replaceField(&privateDisposition(disposition)->type, normalType.get());
}

void mimeContentDispositionSetTypeCstr(MIME_CONTENT_DISPOSITION **disposition, const char *type,
                                       kxInt length) {
  MIME_ASSERT(type);
  mimeContentDispositionSetType(disposition, mime::cstrArgument(type, length).get());
}

void mimeContentDispositionSetFilename(MIME_CONTENT_DISPOSITION **disposition, KX_STRING *filename) {
  mimeContentDispositionSetParameterCstr(disposition, kFilename, -1, filename);
}

// --- header codec ---

KX_STRING *mimeContentDispositionEncode(MIME_CONTENT_DISPOSITION *disposition, MIME_OPTIONS *mo,
                                        kxInt firstLineOffset) {
  MIME_ASSERT(disposition);
  MIME_ASSERT(mo);
  mime::FoldingWriter out(mo, firstLineOffset);
  out.write(charsOf(disposition->type), false);
  mime::writeParameterList(out, disposition->parameters, mo);
  return out.finish();
}

MIME_CONTENT_DISPOSITION *mimeContentDispositionTryDecode(KX_STRING *contentDisposition, MIME_OPTIONS *mo) {
  MIME_ASSERT(contentDisposition);
  MIME_ASSERT(mo);
  return decodeDisposition(charsOf(contentDisposition), mo);
}

MIME_CONTENT_DISPOSITION *mimeContentDispositionTryDecodeCstr(const char *contentDisposition, kxInt length,
                                                              MIME_OPTIONS *mo) {
  MIME_ASSERT(contentDisposition || length == 0);
  MIME_ASSERT(length >= -1);
  MIME_ASSERT(mo);
  const mime::Utf8CodePoints text(contentDisposition,
                                  length < 0 ? std::strlen(contentDisposition) : static_cast<size_t>(length));
  return decodeDisposition(text.chars(), mo);
}

}  // extern "C"

namespace mime::disposition {

MIME_CONTENT_DISPOSITION *decodeTolerantly(KX_STRING *value, MIME_OPTIONS *mo, bool *salvaged) {
  *salvaged = false;
  if (MIME_CONTENT_DISPOSITION *strict = mimeContentDispositionTryDecode(value, mo)) return strict;
  *salvaged = true;
  const CodePoints text = charsOf(value);
  std::vector<ShfTokenSpan> tokens;
  const bool scanned = scanValueTokens(text, tokens);  // else it holds the tokens before the fault
  const Failure fault = lastFailure;
  Ref<KX_STRING> type = readType(tokens, text);
  size_t first = 1;
  if (!type) {
    type.reset(kxStringCreateFromCstr("attachment", -1));
    first = static_cast<size_t>(
        std::find_if(tokens.begin(), tokens.end(),
                     [&text](const ShfTokenSpan &token) { return isTspecialToken(token, text, ';'); }) -
        tokens.begin());
  }
  if (!scanned && fault.kind == MIME_FAILURE_UNCLOSED_QUOTED_STRING) {
    // Its text runs to the end of the value, taken as written (a word of the value's own code points).
    const kxInt after = fault.offset + 1;
    tokens.push_back({MIME_SHF_TOKEN_TYPE_TOKEN, after, static_cast<kxInt>(text.size()) - after});
  }
  HeaderWords words(text);
  Ref<KX_DICT> parameters(decodeParameterList(words, tokens, first, text, mo));
  return createDisposition(type.release(), parameters.release());
}

}  // namespace mime::disposition

namespace {

MIME_CONTENT_DISPOSITION *decodeDisposition(CodePoints text, MIME_OPTIONS *mo) {
  mime::clearFailure("Content-Disposition");
  mime::ScratchArena scratch;
  mime::ScratchVector<ShfTokenSpan> tokens(&scratch);
  if (!mime::scanValueTokens(text, tokens)) return nullptr;
  Ref<KX_STRING> type = readType(tokens, text);
  if (!type) return nullptr;
  mime::HeaderWords words(text);
  Ref<KX_DICT> parameters(mime::decodeParameterList(words, tokens, 1, text, mo, &scratch));
  return createDisposition(type.release(), parameters.release());
}

// An RFC 2045 token of ASCII. The tokenizer lets non-ASCII into a token run, so that is tested here.
bool typeOk(CodePoints type) {
  return !type.empty() && std::all_of(type.begin(), type.end(),
                                      [](kxChar c) { return c < 128 && mime::chars::isTokenChar(c); });
}

MIME_CONTENT_DISPOSITION *createDisposition(KX_STRING *adoptedType, KX_DICT *adoptedParameters) {
  auto *disposition = mime::createObject<MIME_CONTENT_DISPOSITION>(&mime___sort_MIME_CONTENT_DISPOSITION);
  disposition->type = adoptedType;
  disposition->parameters = adoptedParameters;
  return disposition;
}

// The disposition type from the first token, as a new string in lower case; null, with the failure
// recorded, when there is no token first or it holds a character that is not ASCII.
Ref<KX_STRING> readType(std::span<const ShfTokenSpan> tokens, CodePoints text) {
  if (tokens.empty() || tokens[0].type != MIME_SHF_TOKEN_TYPE_TOKEN) {
    mime::fail(MIME_FAILURE_NO_DISPOSITION_TYPE, tokens.empty() ? -1 : tokens[0].start);
    return {};
  }
  const CodePoints type =
      text.subspan(static_cast<size_t>(tokens[0].start), static_cast<size_t>(tokens[0].length));
  const auto bad = std::find_if(type.begin(), type.end(), [](kxChar c) { return c >= 128; });
  if (bad != type.end()) {
    mime::fail(MIME_FAILURE_BAD_DISPOSITION_TYPE, tokens[0].start + (bad - type.begin()));
    return {};
  }
  if (std::none_of(type.begin(), type.end(), [](kxChar c) { return c >= 'A' && c <= 'Z'; }))
    return Ref<KX_STRING>(mime::sharedString(type));  // already lower case: no copy
  mime::CodePointBuffer lower(type.begin(), type.end());
  for (kxChar &c : lower) c = mime::lowerCaseLetter(c);
  return Ref<KX_STRING>(mime::sharedString(lower));
}

}  // namespace
