// Internal to the library: the Content-Type object's checks on code points and its creation from parts
// already in normal form, for the header codec, which reads a whole value before it makes any object.
#pragma once

#include "kx/kx_dict.h"
#include "mime/mime_char.h"
#include "mime/mime_content_type.h"
#include "mime/mime_text.hpp"

namespace mime {

// A parameter key is an RFC 2045 token of printable ASCII; "*", "'" and "%" pass, so RFC 2231 section keys
// such as title*0* can be stored as they were read.
constexpr bool isParameterKeyChar(kxChar c) {
  return c < 128 && chars::isTokenChar(c);
}

// mimeContentTypeNameOk and mimeContentTypeParameterKeyOk on code points.
bool contentTypeNameOk(CodePoints name);
bool contentTypeParameterKeyOk(CodePoints key);
// True when word may stand on either side of the "/" of a name: one or more of A-Z a-z 0-9 + - . _.
bool mediaTypeWordOk(CodePoints word);

// The name and the parameter dictionary of type, borrowed: valid while the caller holds type and does not
// change it.
KX_STRING *contentTypeNameOf(MIME_CONTENT_TYPE *type);
KX_DICT *contentTypeParametersOf(MIME_CONTENT_TYPE *type);

// A new content type that takes over both references: name must pass mimeContentTypeNameOk and be lower
// case; parameters must map keys in normal form (passing mimeContentTypeParameterKeyOk, lower case) to
// strings.
MIME_CONTENT_TYPE *createContentType(KX_STRING *adoptedName, KX_DICT *adoptedParameters);

// mimeContentTypeTryDecode on the code points of a value.
MIME_CONTENT_TYPE *decodeContentType(CodePoints text, MIME_OPTIONS *mo);

}  // namespace mime
