// The Content-Type object: a media type name and a dictionary of parameters, immutable while shared.
// The header codec that reads and writes it lives in mime_content_type_codec.cpp.
#include "mime/mime_content_type.h"

#include <algorithm>

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "mime/mime_char.h"
#include "mime/mime_content_type.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_parameter_family.hpp"

struct MIME_CONTENT_TYPE {
  KX_OBJ obj;
  KX_STRING *name;      // normal form: passes mimeContentTypeNameOk, lower case
  KX_DICT *parameters;  // normalised key -> value string, stored as given
};

MIME_DEFINE_SORT_RECORD(MIME_CONTENT_TYPE, mime___ContentTypeFreeFunc, mime___ContentTypeCompareFunc,
                        mime___ContentTypeToStringFunc);

namespace {

using kx::Ref;

MIME_CONTENT_TYPE *asContentType(KX_OBJ *obj) {
  return reinterpret_cast<MIME_CONTENT_TYPE *>(obj);
}
mime::CodePoints charsOf(KX_STRING *s) {
  return {kxStringBacking(s), static_cast<size_t>(kxStringLength(s))};
}

bool isNameChar(kxChar c);
kxInt compareFields(KX_OBJ *a, KX_OBJ *b);

// The copy-on-write step of every changer: the object in the caller's variable, made private first.
MIME_CONTENT_TYPE *privateContentType(MIME_CONTENT_TYPE **type);

Ref<KX_STRING> cstrString(const char *text, kxInt length) {
  return mime::cstrArgument(text, length);
}
Ref<KX_STRING> wcstrString(const wchar_t *text, kxInt length) {
  return Ref<KX_STRING>(kxStringCreateFromWcstr(text, length));
}

}  // namespace

MIME_DEFINE_OBJECT_FAMILY(ContentType, MIME_CONTENT_TYPE)
MIME_DEFINE_PARAMETER_FAMILY(ContentType, MIME_CONTENT_TYPE, type, privateContentType)

extern "C" {

MIME_CONTENT_TYPE *mimeContentTypeCreateFrom(MIME_CONTENT_TYPE *source) {
  MIME_ASSERT(source);
  auto *type = mime::createObject<MIME_CONTENT_TYPE>(&mime___sort_MIME_CONTENT_TYPE);
  type->name = mime::retainField(source->name);
  type->parameters = mime::retainField(source->parameters);
  return type;
}

void mime___ContentTypeFreeFunc(KX_OBJ *obj) {
  MIME_CONTENT_TYPE *type = asContentType(obj);
  mime::killField(&type->name);
  mime::killField(&type->parameters);
}

kxInt mime___ContentTypeCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj) {
  MIME_CONTENT_TYPE *a = asContentType(thisObj);
  MIME_CONTENT_TYPE *b = asContentType(thatObj);
  // The name decides first; the parameters only break a tie.
  kxInt result =
      compareFields(a->name ? kxStringObj(a->name) : nullptr, b->name ? kxStringObj(b->name) : nullptr);
  if (result != 0) return result;
  return compareFields(a->parameters ? kxDictObj(a->parameters) : nullptr,
                       b->parameters ? kxDictObj(b->parameters) : nullptr);
}

KX_STRING *mime___ContentTypeToStringFunc(KX_OBJ *obj) {
  MIME_CONTENT_TYPE *type = asContentType(obj);
  if (!type->parameters || kxDictLength(type->parameters) == 0) return mime::retainField(type->name);
  return kxStringCreateFromFormatCstr("%s %o", type->name, kxDictObj(type->parameters));
}

// --- names and keys ---

kxBool mimeContentTypeNameOk(KX_STRING *name) {
  MIME_ASSERT(name);
  return mime::contentTypeNameOk(charsOf(name));
}

KX_STRING *mimeContentTypeNameNormalize(KX_STRING *name) {
  // clang-format off
  MIME_ASSERT(mimeContentTypeNameOk( name ));
  // clang-format on
  return kxStringToLower(name);
}

kxBool mimeContentTypeParameterKeyOk(KX_STRING *key) {
  MIME_ASSERT(key);
  return mime::contentTypeParameterKeyOk(charsOf(key));
}

KX_STRING *mimeContentTypeParameterKeyNormalize(KX_STRING *key) {
  // clang-format off
  MIME_ASSERT(mimeContentTypeParameterKeyOk( key ));
  // clang-format on
  return kxStringToLower(key);
}

// --- creating and reading ---

MIME_CONTENT_TYPE *mimeContentTypeCreate(KX_STRING *name) {
  MIME_ASSERT(name);
  Ref<KX_STRING> normalName(mimeContentTypeNameNormalize(name));
  auto *type = mime::createObject<MIME_CONTENT_TYPE>(&mime___sort_MIME_CONTENT_TYPE);
  type->name = normalName.release();
  type->parameters = kxDictCreate();
  return type;
}

MIME_CONTENT_TYPE *mimeContentTypeCreateCstr(const char *name, kxInt length) {
  MIME_ASSERT(name);
  return mimeContentTypeCreate(cstrString(name, length).get());
}

MIME_CONTENT_TYPE *mimeContentTypeCreateWcstr(const wchar_t *name, kxInt length) {
  MIME_ASSERT(name);
  return mimeContentTypeCreate(wcstrString(name, length).get());
}

KX_STRING *mimeContentTypeName(MIME_CONTENT_TYPE *type) {
  MIME_ASSERT(type);
  return mime::retainField(type->name);
}

KX_STRING *mimeContentTypeParameterWcstr(MIME_CONTENT_TYPE *type, const wchar_t *key, kxInt length) {
  MIME_ASSERT(key);
  return mimeContentTypeParameter(type, wcstrString(key, length).get());
}

kxBool mimeContentTypeHasParameterWcstr(MIME_CONTENT_TYPE *type, const wchar_t *key, kxInt length) {
  MIME_ASSERT(key);
  return mimeContentTypeHasParameter(type, wcstrString(key, length).get());
}

// --- changing ---

void mimeContentTypeSetName(MIME_CONTENT_TYPE **type, KX_STRING *name) {
  MIME_ASSERT(type);
  MIME_ASSERT(*type);
  MIME_ASSERT(name);
  Ref<KX_STRING> normalName(mimeContentTypeNameNormalize(name));
  mime::replaceField(&privateContentType(type)->name, normalName.get());
}

void mimeContentTypeSetNameCstr(MIME_CONTENT_TYPE **type, const char *name, kxInt length) {
  MIME_ASSERT(name);
  mimeContentTypeSetName(type, cstrString(name, length).get());
}

void mimeContentTypeSetNameWcstr(MIME_CONTENT_TYPE **type, const wchar_t *name, kxInt length) {
  MIME_ASSERT(name);
  mimeContentTypeSetName(type, wcstrString(name, length).get());
}

void mimeContentTypeSetParameterWcstr(MIME_CONTENT_TYPE **type, const wchar_t *key, kxInt keyLength,
                                      KX_STRING *value) {
  MIME_ASSERT(key);
  mimeContentTypeSetParameter(type, wcstrString(key, keyLength).get(), value);
}

void mimeContentTypeSetParameterCstrWcstrValue(MIME_CONTENT_TYPE **type, const char *key, kxInt keyLength,
                                               const wchar_t *value, kxInt valueLength) {
  MIME_ASSERT(key);
  MIME_ASSERT(value);
  mimeContentTypeSetParameter(type, cstrString(key, keyLength).get(), wcstrString(value, valueLength).get());
}

void mimeContentTypeSetParameterWcstrCstrValue(MIME_CONTENT_TYPE **type, const wchar_t *key, kxInt keyLength,
                                               const char *value, kxInt valueLength) {
  MIME_ASSERT(key);
  MIME_ASSERT(value);
  mimeContentTypeSetParameter(type, wcstrString(key, keyLength).get(), cstrString(value, valueLength).get());
}

void mimeContentTypeSetParameterWcstrWcstrValue(MIME_CONTENT_TYPE **type, const wchar_t *key, kxInt keyLength,
                                                const wchar_t *value, kxInt valueLength) {
  MIME_ASSERT(key);
  MIME_ASSERT(value);
  mimeContentTypeSetParameter(type, wcstrString(key, keyLength).get(), wcstrString(value, valueLength).get());
}

void mimeContentTypeDelParameterWcstr(MIME_CONTENT_TYPE **type, const wchar_t *key, kxInt length) {
  MIME_ASSERT(key);
  mimeContentTypeDelParameter(type, wcstrString(key, length).get());
}

}  // extern "C"

namespace mime {

// --- checks and creation for the header codec ---

bool contentTypeNameOk(CodePoints name) {
  const size_t length = name.size();
  size_t slashes = 0;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] == '/') {
      // One "/" with at least one name character on either side.
      if (i == 0 || i == length - 1 || ++slashes > 1) return false;
    } else if (!isNameChar(name[i])) {
      return false;
    }
  }
  return slashes == 1;
}

bool mediaTypeWordOk(CodePoints word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), isNameChar);
}

bool contentTypeParameterKeyOk(CodePoints key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](kxChar c) { return isParameterKeyChar(c); });
}

KX_STRING *contentTypeNameOf(MIME_CONTENT_TYPE *type) {
  return type->name;
}

KX_DICT *contentTypeParametersOf(MIME_CONTENT_TYPE *type) {
  return type->parameters;
}

MIME_CONTENT_TYPE *createContentType(KX_STRING *adoptedName, KX_DICT *adoptedParameters) {
  auto *type = createObject<MIME_CONTENT_TYPE>(&mime___sort_MIME_CONTENT_TYPE);
  type->name = adoptedName;
  type->parameters = adoptedParameters;
  return type;
}

}  // namespace mime

namespace {

// --- character sets ---

// Media type names are held to letters, digits and "+-._": the set the header decoder also accepts, narrower
// than an RFC 2045 token ("image/*" and "text/h~" are refused).
bool isNameChar(kxChar c) {
  return mime::chars::isAlpha(c) || mime::chars::isDigit(c) || c == '+' || c == '-' || c == '.' || c == '_';
}

// --- helpers ---

// A missing field sorts first; two missing fields are equal; present ones compare as kx objects.
kxInt compareFields(KX_OBJ *a, KX_OBJ *b) {
  if (!a || !b) return a ? 1 : (b ? -1 : 0);
  return kxObjCompare(a, b);
}

MIME_CONTENT_TYPE *privateContentType(MIME_CONTENT_TYPE **type) {
  mime::makePrivate(type, mimeContentTypeCreateFrom);
  return *type;
}

}  // namespace
