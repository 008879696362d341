// Content-Transfer-Encoding: the header names of the five encodings, their header field codec, and the test
// whether a body may travel unencoded.
//
//   value := [comments] ( token / quoted-string ) [comments]   ; one of the five names, any letter case
//
// A body travels as 7bit or 8bit only as lines ended by CR LF:
//   body := *( line CRLF )      line := 0*998 octets, none of them NUL, CR or LF (7bit: none above 127)
#include "mime/mime_content_transfer_encoding.h"

#include <array>
#include <cstring>
#include <string_view>

#include "kx/kx_vector.h"
#include "mime/mime_object.hpp"
#include "mime/mime_shf_token.h"
#include "mime/mime_shf_token_vector.h"

namespace {

using mime::Ref;

// Indexed by the encoding; the decoder tries them in this order.
constexpr std::array<std::string_view, 5> kNames = {"7bit", "8bit", "binary", "quoted-printable", "base64"};

// The longest line a 7bit or 8bit body may hold, its CR LF not counted (RFC 5322).
constexpr kxInt kMaxLineLength = 998;

bool isLineBody(const kxByte *bytes, kxInt length, bool sevenBit);

}  // namespace

extern "C" {

KX_STRING *mimeContentTransferEncodingToString(kxInt cte) {
  // clang-format off
  MIME_ASSERT(MIME_CONTENT_TRANSFER_ENCODING_OK( cte ));
  // clang-format on
  const std::string_view name = kNames[static_cast<size_t>(cte)];
  return kxStringCreateFromCstr(name.data(), static_cast<kxInt>(name.size()));
}

kxInt mimeContentTransferEncodingTryDecode(KX_STRING *cte, MIME_OPTIONS *mo) {
  MIME_ASSERT(cte);
  MIME_ASSERT(mo);
  Ref<KX_VECTOR> tokens(mimeShfTokenVectorTryDecode(cte));
  if (!tokens) return -1;
  mimeShfTokenVectorDelComments(tokens.addr());
  if (kxVectorLength(tokens.get()) != 1) return -1;
  MIME_SHF_TOKEN *token = mimeShfTokenFrom(kxVectorBacking(tokens.get())[0]);
  const kxInt type = mimeShfTokenType(token);
  if (type != MIME_SHF_TOKEN_TYPE_TOKEN && type != MIME_SHF_TOKEN_TYPE_QUOTED_STRING) return -1;
  Ref<KX_STRING> name(mimeShfTokenValue(token));
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (kxStringEqualsCaseFoldCstr(name.get(), kNames[i].data(), static_cast<kxInt>(kNames[i].size()))) {
      return static_cast<kxInt>(i);
    }
  }
  return -1;
}

KX_STRING *mimeContentTransferEncodingEncode(kxInt cte, MIME_OPTIONS *mo, kxInt firstLineOffset) {
  Ref<KX_STRING> name(mimeContentTransferEncodingToString(cte));
  Ref<MIME_SHF_TOKEN> token(mimeShfTokenCreateRawValue(name.get()));
  Ref<KX_VECTOR> tokens(kxVectorCreate());
  kxVectorAppendObj(tokens.addr(), mimeShfTokenObj(token.get()));
  return mimeShfTokenVectorEncode(tokens.get(), mo, firstLineOffset);
}

kxBool mimeContentTransferEncodingCheck(kxInt cte, KX_BUFFER *buf) {
  // clang-format off
  MIME_ASSERT(MIME_CONTENT_TRANSFER_ENCODING_OK( cte ));
  // clang-format on
  MIME_ASSERT(buf);
  if (kxBufferBitLength(buf) % 8 != 0) return 0;
  switch (cte) {
    case MIME_CONTENT_TRANSFER_ENCODING_BINARY:
    case MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE:
    case MIME_CONTENT_TRANSFER_ENCODING_BASE64:
      return 1;
    default:
      return isLineBody(kxBufferBacking(buf), kxBufferLength(buf),
                        cte == MIME_CONTENT_TRANSFER_ENCODING_7BIT);
  }
}

}  // extern "C"

namespace {

// --- line check ---

// True when no octet of the line is NUL or CR (LF cannot occur: the line ends before the first one) and, for
// 7bit, none is above 127. memchr finds the rare octets; the high-bit test is one OR over the line.
bool isCleanLine(const kxByte *line, size_t length, bool sevenBit) {
  if (std::memchr(line, '\r', length) || std::memchr(line, '\0', length)) return false;
  if (!sevenBit) return true;
  kxByte any = 0;
  for (size_t i = 0; i < length; ++i) any |= line[i];
  return (any & 0x80) == 0;
}

// The body is a sequence of lines, each ended by CR LF; an empty body passes, a non-empty one must end with
// CR LF. Each line is found with memchr for its LF, so the scan is linear and touches every octet at most
// twice.
bool isLineBody(const kxByte *bytes, kxInt length, bool sevenBit) {
  kxInt start = 0;
  while (start < length) {
    const auto *lf =
        static_cast<const kxByte *>(std::memchr(bytes + start, '\n', static_cast<size_t>(length - start)));
    if (!lf) return false;  // text after the last line break
    const kxInt lfAt = lf - bytes;
    if (lfAt == start || bytes[lfAt - 1] != '\r') return false;  // a bare LF
    const kxInt lineLength = lfAt - 1 - start;
    if (lineLength > kMaxLineLength) return false;
    if (!isCleanLine(bytes + start, static_cast<size_t>(lineLength), sevenBit)) return false;
    start = lfAt + 1;
  }
  return true;
}

}  // namespace
