// Internal to the library: the parameter list of a header field value (Content-Type, Content-Disposition),
// written after the value's lead with the folds where every reader expects them.
#pragma once

#include "kx/kx_dict.h"
#include "mime/mime_options.h"
#include "mime/mime_shf_token_vector.hpp"

namespace mime {

// Writes the parameters of dict after what out holds, in key order: ";" key "=" value each, with a fold
// (CR LF SP) only right after the ";" when the line is already longer than the fold length, so a fold never
// stands between a name, its "=" and its value. Under MIME_FLAG_GENERATE_RFC2231_HEADERS the values are
// written in RFC 2231 form, in sections of the options' length; the ASCII value under wholeKey (when not
// empty) is always written whole. A parameter that cannot be written safely (a raw line break or NUL, or
// non-ASCII without MIME_FLAG_GENERATE_UNICODE_HEADERS) is left out. dict is only read.
void writeParameterList(FoldingWriter &out, KX_DICT *dict, MIME_OPTIONS *mo, CodePoints wholeKey = {});

}  // namespace mime
