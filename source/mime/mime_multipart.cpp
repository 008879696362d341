// Multipart boundaries: the validity test, the generator and the delimiter search that packing and
// unpacking share.
//
//   boundary       := 0*69<bchars> bcharsnospace
//   bchars         := bcharsnospace / " "
//   dash-boundary  := "--" boundary
//   delimiter      := CRLF dash-boundary   ; or dash-boundary at the very start of the body
#include "mime/mime_multipart.h"

#include <immintrin.h>

#include <cstdint>
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

namespace {

const char *memmemOf(std::string_view haystack, std::string_view needle) {
  return static_cast<const char *>(memmem(haystack.data(), haystack.size(), needle.data(), needle.size()));
}

// 32 places at a time, those where the needle's first octet (the CR) and its last both stand are found with
// two compares; only they are compared whole. The needle holds its CR only at its start, so a place that
// matches part of the needle holds no other candidate: the whole comparisons add up to no more than the
// octets searched, and the search stays linear whatever the content.
__attribute__((target("avx2,bmi"))) const char *findWithAvx2(std::string_view haystack,
                                                             std::string_view needle) {
  const char *h = haystack.data();
  const size_t last = needle.size() - 1;
  const __m256i first = _mm256_set1_epi8(needle.front());
  const __m256i ending = _mm256_set1_epi8(needle.back());
  size_t i = 0;
  for (; i + last + 32 <= haystack.size(); i += 32) {
    __m256i starts = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i)), first);
    __m256i ends =
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i + last)), ending);
    for (auto places = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(starts, ends)));
         places; places &= places - 1) {
      const char *candidate = h + i + _tzcnt_u32(places);
      if (std::memcmp(candidate + 1, needle.data() + 1, last - 1) == 0) return candidate;
    }
  }
  return memmemOf(haystack.substr(i), needle);
}

// findWithAvx2 that also copies each block it looks at to out. Returns whether the needle was found; the
// copy is complete either way.
__attribute__((target("avx2,bmi"))) bool copyFindingWithAvx2(std::string_view haystack,
                                                             std::string_view needle, kxByte *out) {
  const char *h = haystack.data();
  const size_t last = needle.size() - 1;
  const __m256i first = _mm256_set1_epi8(needle.front());
  const __m256i ending = _mm256_set1_epi8(needle.back());
  bool found = false;
  size_t i = 0;
  for (; i + last + 32 <= haystack.size(); i += 32) {
    __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), block);
    if (found) continue;
    __m256i starts = _mm256_cmpeq_epi8(block, first);
    __m256i ends =
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i + last)), ending);
    for (auto places = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(starts, ends)));
         places && !found; places &= places - 1) {
      found = std::memcmp(h + i + _tzcnt_u32(places) + 1, needle.data() + 1, last - 1) == 0;
    }
  }
  std::memcpy(out + i, h + i, haystack.size() - i);
  return found || memmemOf(haystack.substr(i), needle);
}

bool processorRunsAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
}

}  // namespace

bool copyFindingDelimiter(std::string_view body, const Delimiter &delimiter, kxByte *out) {
  static const bool avx2 = processorRunsAvx2();
  if (body.starts_with(delimiter.bare()) || !avx2) {
    std::memcpy(out, body.data(), body.size());
    return findDelimiter(body, delimiter, 0) >= 0;
  }
  return copyFindingWithAvx2(body, delimiter.afterCrLf(), out);
}

const char *findDelimiterAfterCrLf(std::string_view content, std::string_view needle) {
  return findNeedle(content, needle);
}

const char *findNeedle(std::string_view content, std::string_view needle) {
  static const bool avx2 = processorRunsAvx2();
  const bool firstOctetOnce = needle.size() >= 2 && needle.find(needle.front(), 1) == needle.npos;
  return avx2 && firstOctetOnce ? findWithAvx2(content, needle) : memmemOf(content, needle);
}

}  // namespace mime::multipart
