// Content-Transfer-Encoding: the header names of the five encodings, their header field codec, and the test
// whether a body may travel unencoded.
//
//   value := [comments] ( token / quoted-string ) [comments]   ; one of the five names, any letter case
//
// A body travels as 7bit or 8bit only as lines ended by CR LF:
//   body := *( line CRLF )      line := 0*998 octets, none of them NUL, CR or LF (7bit: none above 127)
#include "mime/mime_content_transfer_encoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "kx/kx_vector.h"
#include "mime/mime_content_transfer_encoding.hpp"
#include "mime/mime_failure.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_parameter_reader.hpp"
#include "mime/mime_shf_token.h"
#include "mime/mime_shf_token_vector.h"

namespace {

using kx::Ref;

// Indexed by the encoding; the decoder tries them in this order.
constexpr std::array<std::string_view, 5> kNames = {"7bit", "8bit", "binary", "quoted-printable", "base64"};

// The longest line a 7bit or 8bit body may hold, its CR LF not counted (RFC 5322).
constexpr kxInt kMaxLineLength = 998;

bool isLineBody(const kxByte *bytes, kxInt length, bool sevenBit);
kxInt encodingNamed(mime::CodePoints name);

// Records the failure of the decode and gives its answer, -1.
kxInt fail(kxInt kind, kxInt offset) {
  mime::fail(kind, offset);
  return -1;
}

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
  mime::clearFailure("Content-Transfer-Encoding");
  const mime::CodePoints text(kxStringBacking(cte), static_cast<size_t>(kxStringLength(cte)));
  std::vector<mime::ShfTokenSpan> tokens;
  if (!mime::scanValueTokens(text, tokens)) return -1;
  if (tokens.empty()) return fail(MIME_FAILURE_NO_TRANSFER_ENCODING, -1);
  if (tokens.size() > 1) return fail(MIME_FAILURE_TEXT_AFTER_VALUE, tokens[1].start);
  mime::HeaderWords words(text);
  mime::HeaderWords::Place name;
  if (words.word(tokens[0], &name)) {
    const kxInt encoding = encodingNamed(words.chars(name));
    if (encoding >= 0) return encoding;
  }
  return fail(MIME_FAILURE_UNKNOWN_TRANSFER_ENCODING, tokens[0].start);
}

}  // extern "C"

kxInt mime::transferEncodingNamed(std::string_view octets) {
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (octets.size() == kNames[i].size() &&
        std::equal(octets.begin(), octets.end(), kNames[i].begin(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b; }))
      return static_cast<kxInt>(i);
  }
  return -1;
}

extern "C" {

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

// --- names ---

// The encoding whose name the text is, in any letter case; -1 for none.
kxInt encodingNamed(mime::CodePoints name) {
  for (size_t i = 0; i < kNames.size(); ++i) {
    const std::string_view known = kNames[i];
    if (name.size() == known.size() &&
        std::equal(name.begin(), name.end(), known.begin(), [](kxChar c, char lower) {
          return mime::lowerCaseLetter(c) == static_cast<kxChar>(lower);
        }))
      return static_cast<kxInt>(i);
  }
  return -1;
}

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
