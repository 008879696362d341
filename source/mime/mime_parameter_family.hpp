// Internal to the library: the parameter functions of a kind that holds a parameter dictionary (Content-Type,
// Content-Disposition), written once. The kind's struct has a member `KX_DICT *parameters` mapping keys in
// normal form (mimeContentTypeParameterKeyOk, lower case) to strings, and a function that makes the object
// in the caller's variable private (copy-on-write) before a change.
#pragma once

#include "kx/kx_dict.h"
#include "kx/kx_string.h"
#include "mime/mime_content_type.h"
#include "mime/mime_object.hpp"

namespace mime {

// A new string of a C string argument of the Cstr functions (length -1: up to the NUL).
inline kx::Ref<KX_STRING> cstrArgument(const char *text, kxInt length) {
  return kx::Ref<KX_STRING>(kxStringCreateFromCstr(text, length));
}

}  // namespace mime

// The argument named `obj` gives the abort texts their wording ("type", "*type", "key", "value"); the
// expressions are stringized, so no reformatting.
// clang-format off
#define MIME_DEFINE_PARAMETER_FAMILY(Xxx, KIND, obj, privateObject)                                          \
  extern "C" MIME_EXPORT KX_DICT *mime##Xxx##ParametersDict(KIND *obj) {                                     \
    MIME_ASSERT(obj);                                                                                        \
    return mime::retainField(obj->parameters);                                                               \
  }                                                                                                          \
  extern "C" MIME_EXPORT kxInt mime##Xxx##ParametersLength(KIND *obj) {                                      \
    MIME_ASSERT(obj);                                                                                        \
    return kxDictLength(obj->parameters);                                                                    \
  }                                                                                                          \
  extern "C" MIME_EXPORT KX_STRING *mime##Xxx##ParameterKeyAt(KIND *obj, kxInt index) {                      \
    MIME_ASSERT(obj);                                                                                        \
    return kxDictKeyAt(obj->parameters, index);                                                              \
  }                                                                                                          \
  extern "C" MIME_EXPORT KX_STRING *mime##Xxx##ParameterValueAt(KIND *obj, kxInt index) {                    \
    MIME_ASSERT(obj);                                                                                        \
    return reinterpret_cast<KX_STRING *>(kxDictValueAt(obj->parameters, index));                             \
  }                                                                                                          \
  extern "C" MIME_EXPORT KX_STRING *mime##Xxx##Parameter(KIND *obj, KX_STRING *key) {                        \
    MIME_ASSERT(obj);                                                                                        \
    kx::Ref<KX_STRING> normalKey(mimeContentTypeParameterKeyNormalize(key));                               \
    return reinterpret_cast<KX_STRING *>(kxDictStringKey(obj->parameters, normalKey.get()));                 \
  }                                                                                                          \
  extern "C" MIME_EXPORT KX_STRING *mime##Xxx##ParameterCstr(KIND *obj, const char *key, kxInt length) {     \
    MIME_ASSERT(key);                                                                                        \
    return mime##Xxx##Parameter(obj, mime::cstrArgument(key, length).get());                                 \
  }                                                                                                          \
  extern "C" MIME_EXPORT kxBool mime##Xxx##HasParameter(KIND *obj, KX_STRING *key) {                         \
    MIME_ASSERT(obj);                                                                                        \
    kx::Ref<KX_STRING> normalKey(mimeContentTypeParameterKeyNormalize(key));                               \
    return kxDictHasStringKey(obj->parameters, normalKey.get());                                             \
  }                                                                                                          \
  extern "C" MIME_EXPORT kxBool mime##Xxx##HasParameterCstr(KIND *obj, const char *key, kxInt length) {      \
    MIME_ASSERT(key);                                                                                        \
    return mime##Xxx##HasParameter(obj, mime::cstrArgument(key, length).get());                              \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##SetParameter(KIND **obj, KX_STRING *key, KX_STRING *value) {        \
    MIME_ASSERT(obj);                                                                                        \
    MIME_ASSERT(*obj);                                                                                       \
    MIME_ASSERT(value);                                                                                      \
    kx::Ref<KX_STRING> normalKey(mimeContentTypeParameterKeyNormalize(key));                               \
    kxDictSetStringKey(&privateObject(obj)->parameters, normalKey.get(), kxStringObj(value));                \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##SetParameterCstr(KIND **obj, const char *key, kxInt keyLength,      \
                                                          KX_STRING *value) {                                \
    MIME_ASSERT(key);                                                                                        \
    mime##Xxx##SetParameter(obj, mime::cstrArgument(key, keyLength).get(), value);                           \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##SetParameterCstrCstrValue(KIND **obj, const char *key,              \
                                                                   kxInt keyLength, const char *value,       \
                                                                   kxInt valueLength) {                      \
    MIME_ASSERT(key);                                                                                        \
    MIME_ASSERT(value);                                                                                      \
    mime##Xxx##SetParameter(obj, mime::cstrArgument(key, keyLength).get(),                                   \
                            mime::cstrArgument(value, valueLength).get());                                   \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##DelParameter(KIND **obj, KX_STRING *key) {                          \
    MIME_ASSERT(obj);                                                                                        \
    MIME_ASSERT(*obj);                                                                                       \
    kx::Ref<KX_STRING> normalKey(mimeContentTypeParameterKeyNormalize(key));                               \
    kxDictDelStringKey(&privateObject(obj)->parameters, normalKey.get());                                    \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##DelParameterCstr(KIND **obj, const char *key, kxInt length) {       \
    MIME_ASSERT(key);                                                                                        \
    mime##Xxx##DelParameter(obj, mime::cstrArgument(key, length).get());                                     \
  }                                                                                                          \
  extern "C" MIME_EXPORT void mime##Xxx##ClearParameters(KIND **obj) {                                       \
    MIME_ASSERT(obj);                                                                                        \
    MIME_ASSERT(*obj);                                                                                       \
    kxDictClear(&privateObject(obj)->parameters);                                                            \
  }
// clang-format on
