// Multipart boundaries: the validity test, the generator and the delimiter search that packing and
// unpacking share (its AVX2 path in mime_multipart_avx2.cpp, chosen here at run time).
//
//   boundary       := 0*69<bchars> bcharsnospace
//   bchars         := bcharsnospace / " "
//   dash-boundary  := "--" boundary
//   delimiter      := CRLF dash-boundary   ; or dash-boundary at the very start of the body
#include "mime/mime_multipart.h"

#include <cstring>

#include "mime/mime_char.h"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"

namespace {

constexpr kxInt kBoundaryMaxLength = 70;
constexpr kxInt kGeneratedBoundaryLength = 10;
// Letters and digits only: a generated boundary needs no quoting in a Content-Type parameter.
constexpr std::string_view kBoundaryAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

extern "C" {

kxBool mimeMultipartBoundaryOk(KX_STRING *boundary) {
  MIME_ASSERT(boundary);
  const kxInt length = kxStringLength(boundary);
  if (length == 0 || length > kBoundaryMaxLength) return false;
  const kxChar *chars = kxStringBacking(boundary);
  for (kxInt i = 0; i + 1 < length; ++i) {
    if (!mime___CharIsBchars(chars[i])) return false;
  }
  return mime___CharIsBcharsNospace(chars[length - 1]);
}

KX_STRING *mimeMultipartBoundaryGenerate(void) {
  char text[kGeneratedBoundaryLength];
  for (char &c : text) {
    c = kBoundaryAlphabet[static_cast<size_t>(
        kxRandomNonNegativeIntRange(0, static_cast<kxInt>(kBoundaryAlphabet.size()) - 1))];
  }
  return kxStringCreateFromCstr(text, kGeneratedBoundaryLength);
}

kxInt mime___MultipartFindDelimiter(KX_STRING *boundary, KX_BUFFER *buf, kxInt offset) {
  // clang-format off
  MIME_ASSERT(mimeMultipartBoundaryOk( boundary ));
  MIME_ASSERT(buf);
  MIME_ASSERT(offset >= 0);
  MIME_ASSERT(offset <= kxBufferLength( buf ));
  // clang-format on
  const mime::multipart::Delimiter delimiter(boundary);
  return mime::multipart::findDelimiter(mime::multipart::bytesOf(buf), delimiter,
                                        static_cast<size_t>(offset));
}

}  // extern "C"

namespace mime::multipart {

Delimiter::Delimiter(KX_STRING *boundary) : text_("\r\n--") {
  const kxInt length = kxStringLength(boundary);
  const kxChar *chars = kxStringBacking(boundary);
  text_.reserve(text_.size() + static_cast<size_t>(length));
  // A valid boundary is US-ASCII: each character is its own octet.
  for (kxInt i = 0; i < length; ++i) text_.push_back(static_cast<char>(chars[i]));
}

kxInt findDelimiter(std::string_view content, const Delimiter &delimiter, size_t offset) {
  if (offset == 0 && content.starts_with(delimiter.bare())) return 0;
  // Every other delimiter carries the CR LF before it. memmem is linear in the octets searched, whatever
  // they hold (a run of CR LF pairs or of near-misses costs no more than any other text).
  if (offset >= content.size()) return -1;
  const char *hit = findDelimiterAfterCrLf(content.substr(offset), delimiter.afterCrLf());
  if (!hit) return -1;
  return static_cast<kxInt>(hit - content.data());
}

bool copyFindingDelimiter(std::string_view body, const Delimiter &delimiter, kxByte *out) {
  static const DelimiterSearch *const vector = avx2DelimiterSearch();
  if (body.starts_with(delimiter.bare()) || !vector) {
    std::memcpy(out, body.data(), body.size());
    return findDelimiter(body, delimiter, 0) >= 0;
  }
  return vector->copyFinding(body, delimiter.afterCrLf(), out);
}

const char *findDelimiterAfterCrLf(std::string_view content, std::string_view needle) {
  return findNeedle(content, needle);
}

const char *findNeedle(std::string_view content, std::string_view needle) {
  static const DelimiterSearch *const vector = avx2DelimiterSearch();
  const bool firstOctetOnce = needle.size() >= 2 && needle.find(needle.front(), 1) == needle.npos;
  return vector && firstOctetOnce ? vector->find(content, needle) : findWithMemmem(content, needle);
}

}  // namespace mime::multipart
