// Parameter lists of header field values: the parameters of a dictionary as they follow a value's lead.
//
//   parameter-list := *( ";" [ CRLF SP ] attribute "=" value )
//   value          := token / quoted-string             ; RFC 2231 sections and extended values included
//
// The fold falls right after the ";" and nowhere else. RFC 822 lets white space stand between any two
// tokens, but readers that look a parameter up by "name=" (or "name*0*=") lose it when a fold separates
// the name from its "=" or its value; a fold after the ";" is the form every reader takes. A line may
// therefore end up longer than the fold length by one parameter: a parameter is never split.

#include "mime/mime_parameter_list.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "mime/mime_char.h"
#include "mime/mime_flags.h"
#include "mime/mime_object.hpp"
#include "mime/mime_rfc2231.hpp"

namespace {

using mime::CodePoints;
using mime::Parameter;

constexpr kxChar kSemicolon[1] = {';'};
constexpr kxChar kEquals[1] = {'='};

bool writable(const Parameter &parameter, kxInt flags);
bool quotedAlways(const Parameter &parameter);

}  // namespace

namespace mime {

void writeParameterList(FoldingWriter &out, KX_DICT *dict, MIME_OPTIONS *mo, CodePoints wholeKey) {
  const kxInt flags = mimeOptionsFlags(mo);
  std::vector<kx::Ref<KX_STRING>> strings;
  const Parameters stored = parametersOfDict(dict, strings);
  const bool rfc2231 = flags & MIME_FLAG_GENERATE_RFC2231_HEADERS;
  Parameters encoded;
  if (rfc2231) {
    encoded = rfc2231EncodeParameters(stored, mimeOptionsRfc2231Charset(mo),
                                      mimeOptionsRfc2231MaxSegmentLength(mo), wholeKey);
  }
  const std::span<const Parameter> parameters = rfc2231 ? encoded : stored;
  size_t expected = 0;
  for (const Parameter &parameter : parameters) expected += parameter.key.size() + parameter.value.size() + 4;
  out.reserve(expected + expected / 8);  // quotes, escapes and folds on top
  for (const Parameter &parameter : parameters) {
    if (!writable(parameter, flags)) continue;
    out.append(kSemicolon);
    out.foldIfLong();
    out.append(parameter.key);
    out.append(kEquals);
    out.appendTokenOrQuotedString(parameter.value, quotedAlways(parameter));
  }
}

}  // namespace mime

namespace {

// A raw CR or LF would end the header line inside the value and let the rest pose as header fields of its
// own, and a raw NUL ends the header for readers that handle C strings; without RFC 2231 escapes such a
// parameter cannot be written safely. Raw non-ASCII is written only when the caller asks for it.
bool writable(const Parameter &parameter, kxInt flags) {
  const CodePoints value = parameter.value;
  const bool lineBreakOrNul = std::any_of(value.begin(), value.end(), [](kxChar c) {
    return mime::chars::isCr(c) || mime::chars::isLf(c) || c == 0;
  });
  if (lineBreakOrNul) return false;
  return (flags & MIME_FLAG_GENERATE_UNICODE_HEADERS) ||
         std::none_of(value.begin(), value.end(), [](kxChar c) { return c >= 128; });
}

// A plain value holding "'" goes quoted although "'" is a token character: readers that know RFC 2231 take
// an unquoted one for the charset'language' prefix of an extended value and lose it. An extended value
// (its key ends in "*") needs its apostrophes unquoted.
bool quotedAlways(const Parameter &parameter) {
  const bool extended = !parameter.key.empty() && parameter.key.back() == '*';
  return !extended &&
         std::find(parameter.value.begin(), parameter.value.end(), '\'') != parameter.value.end();
}

}  // namespace
